#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mcp/line_reader.h"

namespace vesk::mcp {
namespace {

// Lines may arrive in reads of any size and end anywhere; a line past the limit is reported
// once, as soon as it passes it, and whatever of it comes later is dropped.
TEST(LineReaderTest, CutsLinesAtTheirLineFeedsAndDropsTheLongOnes) {
  const std::string tooLong = "(too long)";
  const struct {
    std::vector<std::string> reads;
    std::vector<std::string> lines;  // with end of input after the reads
  } cases[] = {
      {{"ab\ncd\n"}, {"ab", "cd"}},
      {{"a", "b\nc", "d\n"}, {"ab", "cd"}},
      {{"\n\n"}, {"", ""}},
      {{"last"}, {"last"}},
      {{"12345678\n"}, {"12345678"}},
      {{"123456789\nok\n"}, {tooLong, "ok"}},
      {{"1234", "5678", "9abc", "def\nok"}, {tooLong, "ok"}},
      {{"123456789", "abc\n", "ok\n"}, {tooLong, "ok"}},
      {{"123456789"}, {tooLong}},
      {{"ok\n123456789\n12345678"}, {"ok", tooLong, "12345678"}},
  };
  for (const auto& c : cases) {
    LineReader reader(8);
    std::vector<std::string> lines;
    const LineSink sink = [&](std::optional<std::string_view> line, std::string*) {
      lines.push_back(line ? std::string(*line) : tooLong);
    };
    for (const auto& read : c.reads) reader.feed(read, sink);
    reader.end(sink);
    EXPECT_EQ(lines, c.lines) << "case " << (&c - cases);
  }
}

}  // namespace
}  // namespace vesk::mcp

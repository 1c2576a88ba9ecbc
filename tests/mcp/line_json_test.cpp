#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mcp/jsonrpc.h"

namespace vesk::mcp {
namespace {

using Json = nlohmann::json;

// A line at the limit is held once: its longest text is taken over where it lies, decoded beside
// the line only for a message that still reads the line, and not decoded at all where only the
// line's own text of it is read. Here a message's method says what it does with the text.
TEST(LineJsonTest, TheLongestTextIsHeldOnce) {
  const std::string text(kLongText, 'x');
  const auto message = [&](const char* method, std::string_view value) {
    return R"({"jsonrpc":"2.0","id":1,"method":")" + std::string(method) +
           R"(","params":{"v":"\u00e9)" + std::string(value) + R"("}})";
  };
  const auto batch = [](const std::string& first, const std::string& second) {
    return std::string("[").append(first).append(",").append(second).append("]");
  };
  const std::string decoded = "\xc3\xa9" + text;
  const struct {
    std::string line;
    std::vector<std::string> values;  // each message's params.v
    bool lineTaken;
  } cases[] = {
      {message("take", text), {decoded}, true},
      {message("copy", text), {decoded}, false},
      {message("skip", text), {""}, false},
      {batch(message("skip", text), message("take", "y")), {"", "\xc3\xa9y"}, false},
      {batch(message("take", "y"), message("skip", text)), {"\xc3\xa9y", ""}, false},
      {batch(message("take", text), message("skip", "y")), {decoded, "\xc3\xa9y"}, false},
      {batch(message("take", text), message("take", "y")), {decoded, "\xc3\xa9y"}, true},
  };
  const auto textUse = [](const Json& message) {
    const std::string method = message.value("method", "");
    return method == "skip"   ? LongestText::unread
           : method == "copy" ? LongestText::copied
                              : LongestText::taken;
  };
  for (const auto& c : cases) {
    std::string owner = c.line;
    Incoming incoming = parseLine(owner, true, &owner, textUse);
    std::vector<std::string> values;
    for (const auto& m : incoming.messages) values.push_back(m.params.value("v", "(none)"));
    EXPECT_EQ(values, c.values) << "case " << (&c - cases);
    EXPECT_EQ(owner.size() != c.line.size(), c.lineTaken) << "case " << (&c - cases);
    for (const auto& m : incoming.messages) {
      EXPECT_EQ(m.raw.empty(), c.lineTaken) << "case " << (&c - cases);
    }
  }
}

}  // namespace
}  // namespace vesk::mcp

#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The client's input cut into lines, each at most a set number of bytes. A longer line is
// dropped as it streams in: no line of any length is ever held whole.
namespace vesk::mcp {

// A line without its line feed, or nothing for a line found too long; it is called once for such
// a line, as soon as it has grown past the limit, and the rest of that line is dropped. `owner`
// is the string the line was gathered in, which the sink may take, or null when the line is a
// view of the bytes fed.
using LineSink = std::function<void(std::optional<std::string_view> line, std::string* owner)>;

class LineReader {
 public:
  explicit LineReader(size_t longest) : longest_(longest) {}

  // The next bytes of input: every line they end goes to `sink`, in order.
  void feed(std::string_view bytes, const LineSink& sink);
  // End of input: a last line that came without its line feed.
  void end(const LineSink& sink);

 private:
  const size_t longest_;
  std::string pending_;    // what has come of a line not yet ended
  bool dropping_ = false;  // the line coming in was too long: its bytes go nowhere up to its end
};

}  // namespace vesk::mcp

#include "mcp/line_reader.h"

namespace vesk::mcp {
namespace {

// Up to this size a line grows as strings do.
constexpr size_t kGrownLine = size_t{1} << 20;

}  // namespace

void LineReader::feed(std::string_view bytes, const LineSink& sink) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const bool ended = end != std::string_view::npos;
    const std::string_view piece = bytes.substr(0, end);
    if (dropping_) {
      // nothing to keep up to the line feed
    } else if (pending_.size() + piece.size() > longest_) {
      std::string().swap(pending_);  // gives the memory back at once
      dropping_ = true;
      sink(std::nullopt, nullptr);
    } else if (ended && pending_.empty()) {
      sink(piece, nullptr);  // a whole line in one read, the usual case: no copy
    } else {
      // Past a mebibyte a line gets room for the longest at once: the system maps it only as it
      // is written, and the line is never copied again, nor held twice while it grows.
      const size_t needed = pending_.size() + piece.size();
      if (needed > pending_.capacity() && needed > kGrownLine) pending_.reserve(longest_);
      pending_.append(piece);
      if (ended) {
        sink(pending_, &pending_);
        std::string().swap(pending_);  // a long line's memory is not kept for the short ones
      }
    }
    if (!ended) return;
    dropping_ = false;
    bytes.remove_prefix(end + 1);
  }
}

void LineReader::end(const LineSink& sink) {
  if (!dropping_ && !pending_.empty()) sink(pending_, &pending_);
  std::string().swap(pending_);
  dropping_ = false;
}

}  // namespace vesk::mcp

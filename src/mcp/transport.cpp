#include "mcp/transport.h"

#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "cli/output.h"
#include "mcp/line_reader.h"
#include "mcp/server.h"
#include "mcp/tools.h"

namespace vesk::mcp {
namespace {

// Waits until `fd` can be read (readable) or written; true, or false once `wake` can be read.
bool ready(int fd, bool readable, int wake = -1) {
  while (true) {
    fd_set reads, writes;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_SET(fd, readable ? &reads : &writes);
    if (wake >= 0) FD_SET(wake, &reads);
    const int n = ::select(std::max(fd, wake) + 1, &reads, &writes, nullptr, nullptr);
    if (n < 0 && errno == EINTR) continue;
    // An error here is one the read or write that follows meets too, and reports.
    return !(n > 0 && wake >= 0 && FD_ISSET(wake, &reads));
  }
}

// 0 once all of `bytes` is on standard output, else the error that stopped it.
int writeAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      ready(STDOUT_FILENO, false);  // a host that made the pipe non-blocking
    } else if (n == 0 || errno != EINTR) {
      return n == 0 ? EIO : errno;
    }
  }
  return 0;
}

// Standard output carries protocol messages only, each written whole. The first write that fails
// is kept, and wakes the reading thread through `wake`.
class Output {
 public:
  explicit Output(int wake) : wake_(wake) {}

  bool write(std::string_view message) {
    std::lock_guard lock(mutex_);
    if (failure_) return false;
    const int error = writeAll(message);
    if (!error) return true;
    // Once input has ended the host may close its end while the last calls finish: their
    // answers have nobody left to read them.
    if (error == EPIPE && inputEnded_) return true;
    failure_ = "cannot write to standard output: " + std::generic_category().message(error);
    // One byte into an empty pipe of our own, which has room for it; were it refused, the
    // reading thread would learn of the failure at the end of input instead.
    [[maybe_unused]] const ssize_t woken = ::write(wake_, "!", 1);
    return false;
  }

  void endInput() { inputEnded_ = true; }

  std::optional<std::string> failure() {
    std::lock_guard lock(mutex_);
    return failure_;
  }

 private:
  const int wake_;
  std::atomic<bool> inputEnded_ = false;
  std::mutex mutex_;
  std::optional<std::string> failure_;
};

}  // namespace

int serve(const Settings& settings) {
  int wake[2];
  if (::pipe(wake) != 0) die("cannot start: " + std::generic_category().message(errno));
  Output output(wake[1]);
  Server server(
      [&settings](const Tool& tool, const nlohmann::json& arguments, std::string_view rawArguments,
                  Revision revision, Cancellation& cancellation) {
        return callTool(tool, arguments, rawArguments, settings, revision, cancellation);
      },
      [&output](std::string_view message) { return output.write(message); }, Concurrency::threads,
      settings.progressInterval);
  LineReader reader(kLongestLine);
  const LineSink sink = [&server](std::optional<std::string_view> line, std::string* owner) {
    if (line) return server.handleLine(*line, owner);
    server.refuseLongLine(kLongestLine);
  };

  char chunk[1 << 16];
  while (ready(STDIN_FILENO, true, wake[0])) {
    // From the read until its lines are handled no progress starts: the host may have sent a
    // cancellation, and must see no progress for that call once it is read.
    const auto held = server.holdProgress();
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) break;
    reader.feed(std::string_view(chunk, static_cast<size_t>(n)), sink);
  }
  output.endInput();
  reader.end(sink);
  server.finish();
  if (auto failure = output.failure()) die(*failure);
  return 0;
}

}  // namespace vesk::mcp

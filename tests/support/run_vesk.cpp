#include "run_vesk.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <fstream>
#include <system_error>
#include <thread>
#include <utility>

#ifndef VESK_BINARY
#error "VESK_BINARY must be defined as a string literal: the path of the vesk executable"
#endif

extern char** environ;  // not declared by <unistd.h> on every platform

namespace vesk::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

[[noreturn]] void throwSystemError(int error, const char* what) {
  throw std::system_error(error, std::generic_category(), what);
}

[[noreturn]] void throwErrno(const char* what) {
  throwSystemError(errno, what);
}

void check(int error, const char* what) {
  if (error != 0) throwSystemError(error, what);
}

// Owns one file descriptor, so that no way out of runVesk leaks it.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }

  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Close-on-exec, so that a process started by anyone else in the test binary cannot keep
// one of our write ends open and hold back the end of the output.
void setCloseOnExec(const FileDescriptor& fd) {
  if (::fcntl(fd.get(), F_SETFD, FD_CLOEXEC) == -1) throwErrno("fcntl");
}

// One output stream of the child: the end the child writes to and the end we read from.
struct Channel {
  FileDescriptor ours;
  FileDescriptor childs;
};

Channel openPipe() {
  std::array<int, 2> ends{};
  if (::pipe(ends.data()) == -1) throwErrno("pipe");
  Channel channel{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
  setCloseOnExec(channel.ours);
  setCloseOnExec(channel.childs);
  return channel;
}

Channel openRawTerminal() {
  int master = -1;
  int slave = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  if (::openpty(&master, &slave, nullptr, nullptr, &size) == -1) throwErrno("openpty");
  Channel channel{FileDescriptor(master), FileDescriptor(slave)};
  setCloseOnExec(channel.ours);
  setCloseOnExec(channel.childs);
  termios settings{};
  if (::tcgetattr(slave, &settings) == -1) throwErrno("tcgetattr");
  ::cfmakeraw(&settings);  // no "\n" to "\r\n": the test sees exactly the bytes vesk wrote
  if (::tcsetattr(slave, TCSANOW, &settings) == -1) throwErrno("tcsetattr");
  return channel;
}

// posix_spawn's two settings objects, destroyed on every path.
class SpawnSettings {
 public:
  SpawnSettings() {
    check(::posix_spawn_file_actions_init(&actions), "posix_spawn_file_actions_init");
    if (const int error = ::posix_spawnattr_init(&attributes); error != 0) {
      ::posix_spawn_file_actions_destroy(&actions);
      throwSystemError(error, "posix_spawnattr_init");
    }
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
  ~SpawnSettings() {
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
  }

  posix_spawn_file_actions_t actions{};
  posix_spawnattr_t attributes{};
};

}  // namespace

pid_t spawnProgram(const std::string& path, const std::vector<std::string>& args, int stdinFd,
                   int stdoutFd, int stderrFd) {
  SpawnSettings settings;
  posix_spawn_file_actions_t* actions = &settings.actions;
  if (stdinFd < 0) {
    check(::posix_spawn_file_actions_addopen(actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0),
          "posix_spawn_file_actions_addopen");
  } else {
    check(::posix_spawn_file_actions_adddup2(actions, stdinFd, STDIN_FILENO),
          "posix_spawn_file_actions_adddup2");
  }
  check(::posix_spawn_file_actions_adddup2(actions, stdoutFd, STDOUT_FILENO),
        "posix_spawn_file_actions_adddup2");
  check(::posix_spawn_file_actions_adddup2(actions, stderrFd, STDERR_FILENO),
        "posix_spawn_file_actions_adddup2");

  // The child gets its three standard streams and nothing else: an inherited copy of a test's
  // socket would otherwise keep it open past a close or reset the test is about.
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef __APPLE__
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#elif defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  check(::posix_spawn_file_actions_addclosefrom_np(actions, STDERR_FILENO + 1),
        "posix_spawn_file_actions_addclosefrom_np");
#endif
  // Signals start as a shell would leave them, whatever the test runner blocks or ignores.
  sigset_t noSignals;
  sigemptyset(&noSignals);
  sigset_t defaultSignals;
  sigemptyset(&defaultSignals);
  for (const int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
    sigaddset(&defaultSignals, signal);
  }
  check(::posix_spawnattr_setflags(&settings.attributes, flags), "posix_spawnattr_setflags");
  check(::posix_spawnattr_setsigmask(&settings.attributes, &noSignals),
        "posix_spawnattr_setsigmask");
  check(::posix_spawnattr_setsigdefault(&settings.attributes, &defaultSignals),
        "posix_spawnattr_setsigdefault");

  std::vector<std::string> words{path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  check(::posix_spawn(&pid, path.c_str(), actions, &settings.attributes, argv.data(), environ),
        ("posix_spawn " + path).c_str());
  return pid;
}

namespace {

// One of the child's output streams being read.
struct Capture {
  int fd;
  std::string* sink;
  bool open = true;
};

// Reads both streams to their end; false if `deadline` came first.
bool readToEnd(std::array<Capture, 2>& captures, Clock::time_point deadline) {
  std::array<char, 64 * 1024> chunk{};
  for (;;) {
    std::array<pollfd, 2> polled{};
    std::array<Capture*, 2> owners{};
    nfds_t count = 0;
    for (Capture& capture : captures) {
      if (!capture.open) continue;
      polled[count] = pollfd{capture.fd, POLLIN, 0};
      owners[count] = &capture;
      ++count;
    }
    if (count == 0) return true;

    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (remaining.count() <= 0) return false;
    const int timeout =
        static_cast<int>(std::min<std::chrono::milliseconds::rep>(remaining.count(), INT_MAX));
    if (::poll(polled.data(), count, timeout) == -1) {
      if (errno == EINTR) continue;
      throwErrno("poll");
    }

    for (nfds_t i = 0; i < count; ++i) {
      if (polled[i].revents == 0) continue;
      const ssize_t got = ::read(polled[i].fd, chunk.data(), chunk.size());
      if (got > 0) {
        owners[i]->sink->append(chunk.data(), static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        // End of file; a terminal's master reports EIO instead once the child's end is closed.
        owners[i]->open = false;
      }
    }
  }
}

int killAndWait(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) == -1) {
    if (errno != EINTR) throwErrno("waitpid");
  }
  return status;
}

// The child has closed its outputs, so it has normally ended or is about to. Polling waitpid
// is the portable way to give that wait a bound.
int waitUntil(pid_t pid, Clock::time_point deadline) {
  for (auto pause = 1ms; Clock::now() < deadline; pause = std::min(pause * 2, 20ms)) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) return status;
    if (ended == -1 && errno != EINTR) throwErrno("waitpid");
    std::this_thread::sleep_for(pause);
  }
  return killAndWait(pid);
}

RunResult runProgram(const std::string& path, const std::vector<std::string>& args, Stdout mode,
                     std::chrono::seconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  Channel out = mode == Stdout::terminal ? openRawTerminal() : openPipe();
  Channel err = openPipe();
  const pid_t pid = spawnProgram(path, args, -1, out.childs.get(), err.childs.get());
  // Now only the child holds the writing ends, so its exit is what ends our reads.
  out.childs.reset();
  err.childs.reset();

  RunResult result;
  int status = 0;
  try {
    std::array<Capture, 2> captures{Capture{out.ours.get(), &result.out},
                                    Capture{err.ours.get(), &result.err}};
    status = readToEnd(captures, deadline) ? waitUntil(pid, deadline) : killAndWait(pid);
  } catch (...) {
    killAndWait(pid);  // never leave a child running or unreaped
    throw;
  }

  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace

RunResult runVesk(const std::vector<std::string>& args, Stdout mode, std::chrono::seconds limit) {
  return runProgram(VESK_BINARY, args, mode, limit);
}

RunResult runVeskMeasuringMemory(const std::vector<std::string>& args) {
  char path[] = "/tmp/vesk-peak-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) throwErrno("mkstemp");
  ::close(fd);
  std::vector<std::string> launcherArgs{path, VESK_BINARY};
  launcherArgs.insert(launcherArgs.end(), args.begin(), args.end());
  RunResult result =
      runProgram(PEAK_MEMORY_BINARY, launcherArgs, Stdout::pipe, std::chrono::seconds(120));
  std::ifstream(path) >> result.peakMemoryKb;
  ::unlink(path);
  return result;
}

}  // namespace vesk::test

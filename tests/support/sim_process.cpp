#include "sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#ifndef TARNEL_SIM_BINARY
#error \
    "TARNEL_SIM_BINARY must be defined as a string literal: the path of the tarnel-sim executable"
#endif

namespace vesk::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::array<int, 2> closeOnExecPipe() {
  std::array<int, 2> ends{};
  if (::pipe(ends.data()) == -1) throw std::system_error(errno, std::generic_category(), "pipe");
  for (int fd : ends) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return ends;
}

std::string freshPortFile() {
  static std::atomic<int> counter{0};
  return (std::filesystem::temp_directory_path() /
          ("tarnel-sim-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
           ".port"))
      .string();
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& args, Await await)
    : portFile_(freshPortFile()) {
  std::vector<std::string> words{"--port", "0", "--port-file", portFile_};
  words.insert(words.end(), args.begin(), args.end());
  auto in = closeOnExecPipe(), out = closeOnExecPipe(), err = closeOnExecPipe();
  // Our ends of the pipes, so that a failed start leaks none.
  input_ = in[1];
  try {
    pid_ = spawnProgram(TARNEL_SIM_BINARY, words, in[0], out[1], err[1]);
  } catch (...) {
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    throw;
  }
  for (int fd : {in[0], out[1], err[1]}) ::close(fd);
  reader_ = std::thread([this, outFd = out[0], errFd = err[0]] { readOutputs(outFd, errFd); });
  if (await == Await::nothing) return;

  for (auto deadline = Clock::now() + 10s; Clock::now() < deadline;
       std::this_thread::sleep_for(10ms)) {
    std::ifstream file(portFile_);
    unsigned port = 0;
    if (file >> port) {
      port_ = static_cast<unsigned short>(port);
      return;
    }
  }
  throw std::runtime_error("tarnel-sim did not start listening: " + wait(1s).err);
}

SimProcess::~SimProcess() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
  wait(10s);
  if (input_ >= 0) ::close(input_);
  std::error_code ignored;
  std::filesystem::remove(portFile_, ignored);
}

std::vector<std::string> SimProcess::vesk(std::vector<std::string> args) const {
  args.insert(args.end(), {"--port", std::to_string(port_)});
  return args;
}

void SimProcess::type(std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(input_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::system_error(errno, std::generic_category(), "write to tarnel-sim");
    text.remove_prefix(static_cast<size_t>(n));
  }
}

void SimProcess::closeInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

bool SimProcess::waitForOutput(std::string_view text, size_t times, std::chrono::seconds limit) {
  auto count = [&] {
    size_t n = 0;
    for (size_t at = out_.find(text); at != std::string::npos; at = out_.find(text, at + 1)) ++n;
    return n;
  };
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return count() >= times || outputsClosed_; }) &&
         count() >= times;
}

void SimProcess::readOutputs(int outFd, int errFd) {
  std::array<pollfd, 2> fds{pollfd{outFd, POLLIN, 0}, pollfd{errFd, POLLIN, 0}};
  std::array<std::string*, 2> sinks{&out_, &err_};
  std::array<char, 16 * 1024> chunk{};
  int open = 2;
  while (open > 0) {
    if (::poll(fds.data(), fds.size(), -1) == -1 && errno != EINTR) break;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = ::read(fds[i].fd, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      std::lock_guard lock(mutex_);
      if (got > 0) {
        sinks[i]->append(chunk.data(), static_cast<size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;  // poll skips negative descriptors
        --open;
      }
      changed_.notify_all();
    }
  }
  std::lock_guard lock(mutex_);
  outputsClosed_ = true;
  changed_.notify_all();
}

RunResult SimProcess::wait(std::chrono::seconds limit) {
  RunResult result;
  if (pid_ <= 0) return result;
  int status = 0;
  for (auto deadline = Clock::now() + limit;; std::this_thread::sleep_for(5ms)) {
    pid_t ended = ::waitpid(pid_, &status, WNOHANG);
    if (ended == pid_) break;
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
  }
  pid_ = -1;
  if (reader_.joinable()) reader_.join();  // the outputs close with the process
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  std::lock_guard lock(mutex_);
  result.out = out_;
  result.err = err_;
  return result;
}

RunResult SimProcess::stop(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
  return wait();
}

}  // namespace vesk::test

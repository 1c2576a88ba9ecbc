#include "server.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/read_size.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#ifdef __APPLE__
#include <climits>  // OPEN_MAX: macOS refuses a soft limit above it, whatever the hard limit says
#endif

#include "app.h"
#include "console.h"
#include "diagnostics.h"

namespace sim {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using namespace std::chrono_literals;

// Generous for a card with an inline image; anything bigger is not from vesk.
constexpr std::uint64_t kBodyLimit = 64 << 20;
constexpr std::uint32_t kHeaderLimit = 64 << 10;
// Descriptors kept free beyond the connections held: the listener, standard streams, the record,
// and room to accept a connection only to refuse it.
constexpr size_t kSpareDescriptors = 64;
// What a connection refused for want of descriptors is read of, without waiting: any request of
// vesk's but one with a large inline image.
constexpr size_t kAtOnceReadLimit = 1 << 20;
constexpr auto kRequestDeadline = 30s;  // to send a whole request
constexpr auto kLingerDeadline = 5s;    // for the client to hang up after its answer

bool isHttpParseError(const error_code& ec) {
  return ec.category() == http::make_error_code(http::error::bad_target).category();
}

bool isOutOfDescriptors(const error_code& ec) {
  return ec == asio::error::no_descriptors ||
         ec == boost::system::errc::too_many_files_open_in_system;
}

std::string text(beast::string_view view) {
  return std::string(view.data(), view.size());
}

http::response<http::string_body> responseTo(const Reply& reply) {
  http::response<http::string_body> response;
  response.version(11);
  response.result(static_cast<unsigned>(reply.status));
  response.set(http::field::server, "tarnel-sim/" TARNEL_SIM_VERSION);
  // HTTP gives these two statuses no body, and Beast refuses to frame one.
  const bool bodiless = reply.status == 204 || reply.status == 304;
  if (!bodiless) {
    const bool isJson = nlohmann::json::accept(reply.body);
    response.set(http::field::content_type,
                 isJson ? "application/json" : "text/plain; charset=utf-8");
    response.body() = reply.body;
  }
  if (!reply.allow.empty()) response.set(http::field::allow, reply.allow);
  response.keep_alive(false);
  response.prepare_payload();
  return response;
}

// A descriptor held back, /dev/null open for reading. Out of descriptors, accept fails and the
// connection waiting would wait until some connection held ends; giving the spare back for a moment
// makes room to take that connection, answer it and close it.
class SpareDescriptor {
 public:
  SpareDescriptor() { reserve(); }
  ~SpareDescriptor() { release(); }
  SpareDescriptor(const SpareDescriptor&) = delete;
  SpareDescriptor& operator=(const SpareDescriptor&) = delete;

  // Whether one is held now.
  bool reserve() {
    if (descriptor_ < 0) descriptor_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return descriptor_ >= 0;
  }
  // Whether one was held.
  bool release() {
    if (descriptor_ < 0) return false;
    ::close(descriptor_);
    descriptor_ = -1;
    return true;
  }

 private:
  int descriptor_ = -1;
};

// A crowd of scripts asking at once needs a descriptor each: raise the soft limit on open files
// as far as the system allows, and hold no more connections than that leaves room for.
size_t connectionLimit(size_t wanted) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return wanted;
  rlim_t ceiling = files.rlim_max;
#ifdef __APPLE__
  ceiling = std::min<rlim_t>(ceiling, OPEN_MAX);
#endif
  if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < ceiling) {
    rlimit raised = files;
    raised.rlim_cur = ceiling;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
  }
  if (files.rlim_cur == RLIM_INFINITY) return wanted;
  const auto usable = static_cast<size_t>(files.rlim_cur);
  return usable > kSpareDescriptors ? std::min(wanted, usable - kSpareDescriptors) : 1;
}

class Server;

// One client connection: one request, one answer, then close. The answer may wait for a delay, a
// scripted timeout or the person; meanwhile a read watches for the client hanging up, which
// withdraws the question.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // A refused connection is read and answered 503 at once: the sim holds enough already.
  Connection(tcp::socket socket, Server& server, bool refused)
      : socket_(std::move(socket)),
        server_(server),
        timer_(socket_.get_executor()),
        refused_(refused) {}

  void start();
  void abort() { finish(); }
  bool hasRequest() const { return stage_ != Stage::reading; }

 private:
  enum class Stage { reading, waiting, writing, closing, done };

  void readHeader();
  void onHeaderRead(error_code ec, size_t size);
  void onHeader(error_code ec);
  void readBody();
  void onRequest(error_code ec);
  void answerUnreadable(error_code ec);
  void afterWait();
  void watchForHangUp();
  void onHangUpWatch(error_code ec);
  void send(const Reply& reply);
  void onSent(error_code ec);
  void finish();

  // Every completion of this connection runs through here, `step` being called with the
  // connection and the completion's arguments. Whatever a step throws is a fault of the sim: the
  // connection is finished as any other, off the server's books, rather than destroyed while the
  // server still holds it.
  template <class Step>
  auto guarded(Step step) {
    return [self = shared_from_this(), step = std::move(step)](auto&&... args) {
      try {
        step(*self, std::forward<decltype(args)>(args)...);
      } catch (const std::exception& e) {
        note(std::string("internal error: ") + e.what());
        self->finish();
      }
    };
  }

  tcp::socket socket_;
  Server& server_;
  asio::steady_timer timer_;
  beast::flat_buffer buffer_;
  http::request_parser<http::string_body> parser_;
  http::response<http::string_body> response_;
  std::array<char, 1024> scratch_{};
  size_t headerRead_ = 0;  // bytes read until the header was whole
  Stage stage_ = Stage::reading;
  bool refused_ = false;
  bool watching_ = false;
  bool hungUp_ = false;
  std::optional<Plan> plan_;
  std::uint64_t ticket_ = 0;
};

class Server {
 public:
  Server(const Options& options, Catalogue catalogue)
      : options_(options), app_(options, std::move(catalogue)) {}

  int run();

  App& app() { return app_; }
  size_t maxConnections() const { return maxConnections_; }
  Console* console() { return console_ ? &*console_ : nullptr; }
  bool logsEachRequest() const { return !options_.quiet && !options_.interactive; }
  void received();
  void ended(Connection* connection);

 private:
  void listen();
  void writePortFile() const;
  void acceptNext();
  bool refuseAtOnce();
  void stop(const std::string& why);

  const Options& options_;
  asio::io_context io_{1};  // first, so it outlives every object that uses it
  tcp::acceptor acceptor_{io_};
  asio::steady_timer acceptRetry_{io_};
  SpareDescriptor spare_;
  asio::signal_set signals_{io_, SIGINT, SIGTERM, SIGHUP};
  App app_;
  std::optional<Console> console_;
  std::set<Connection*> live_;
  size_t maxConnections_ = 0;
  std::uint64_t requests_ = 0;
  bool stopping_ = false;
};

void Connection::start() {
  // Not boost::none: Beast 1.74 then rejects every body with a Content-Length as over the limit.
  parser_.body_limit(kBodyLimit);
  parser_.header_limit(kHeaderLimit);
  timer_.expires_after(kRequestDeadline);
  timer_.async_wait(guarded([](Connection& self, error_code ec) {
    if (!ec && self.stage_ == Stage::reading) self.finish();
  }));
  readHeader();
}

// Read here rather than by http::async_read_header, whose limit bounds only what the parser holds
// unparsed: the parser takes whole lines as they come, so many short lines pass it however many
// they are. Here every byte of the header counts, the request line with the rest.
void Connection::readHeader() {
  socket_.async_read_some(
      buffer_.prepare(beast::read_size(buffer_, kHeaderLimit)),
      guarded([](Connection& self, error_code ec, size_t size) { self.onHeaderRead(ec, size); }));
}

void Connection::onHeaderRead(error_code ec, size_t size) {
  buffer_.commit(size);
  headerRead_ += size;
  if (ec == asio::error::eof) {
    ec = parser_.got_some() ? http::error::partial_message : http::error::end_of_stream;
  }
  if (!ec) buffer_.consume(parser_.put(buffer_.data(), ec));
  // Once the header is whole, what the buffer still holds is the body's.
  const size_t header = headerRead_ - (parser_.is_header_done() ? buffer_.size() : 0);
  if ((!ec || ec == http::error::need_more) && header > kHeaderLimit) {
    ec = http::error::header_limit;
  }
  if (ec == http::error::need_more) return readHeader();
  onHeader(ec);
}

void Connection::onHeader(error_code ec) {
  if (ec) return answerUnreadable(ec);
  // curl asks before sending a large body, and would otherwise wait a second for nothing.
  const bool wantsContinue = beast::iequals(parser_.get()[http::field::expect], "100-continue");
  if (!wantsContinue || parser_.is_done()) return readBody();
  static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
  asio::async_write(socket_, asio::buffer(kContinue.data(), kContinue.size()),
                    guarded([](Connection& self, error_code ec, size_t) {
                      if (ec) return self.finish();
                      self.readBody();
                    }));
}

void Connection::readBody() {
  http::async_read(socket_, buffer_, parser_,
                   guarded([](Connection& self, error_code ec, size_t) { self.onRequest(ec); }));
}

void Connection::onRequest(error_code ec) {
  if (stage_ != Stage::reading) return;
  if (ec) return answerUnreadable(ec);
  timer_.cancel();
  stage_ = Stage::waiting;
  const auto& request = parser_.get();
  const std::string method = text(request.method_string()), target = text(request.target());
  if (refused_) {
    plan_ = server_.app().refuse(method, target, request.body(), server_.maxConnections());
  } else {
    server_.received();  // counted first: a request the sim fails on still counts
    plan_ = server_.app().receive(method, target, request.body());
  }
  if (Console* console = server_.console()) console->show(*plan_);
  watchForHangUp();
  if (plan_->wait <= 0s) return afterWait();
  timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::min(plan_->wait, std::chrono::duration<double>(std::chrono::hours(24 * 365)))));
  timer_.async_wait(guarded([](Connection& self, error_code ec) {
    if (!ec && self.stage_ == Stage::waiting) self.afterWait();
  }));
}

// A request that cannot be read whole is answered when it is malformed, dropped when the client
// just went away. It is neither recorded nor counted: there is no method or path to record.
void Connection::answerUnreadable(error_code ec) {
  if (stage_ != Stage::reading) return;
  timer_.cancel();
  if (ec == http::error::body_limit) return send(errorReply(413, "request body too large"));
  if (ec == http::error::header_limit) return send(errorReply(431, "request headers too large"));
  const bool clientLeft = ec == http::error::end_of_stream || ec == http::error::partial_message ||
                          ec == http::error::short_read;
  if (isHttpParseError(ec) && !clientLeft) {
    return send(errorReply(400, "malformed HTTP request: " + ec.message()));
  }
  finish();
}

void Connection::afterWait() {
  Console* console = server_.console();
  if (!plan_->askPerson || !console) return send(plan_->reply);
  std::weak_ptr<Connection> weak = shared_from_this();
  ticket_ = console->ask(*plan_->askPerson, plan_->body, [weak](Reply reply) {
    auto self = weak.lock();
    if (!self || self->stage_ != Stage::waiting) return;
    self->guarded([](Connection& connection, const Reply& answer) { connection.send(answer); })(
        reply);
  });
}

void Connection::watchForHangUp() {
  watching_ = true;
  socket_.async_read_some(asio::buffer(scratch_), guarded([](Connection& self, error_code ec,
                                                             size_t) { self.onHangUpWatch(ec); }));
}

void Connection::onHangUpWatch(error_code ec) {
  if (stage_ == Stage::done) return;
  if (!ec) return watchForHangUp();  // bytes past the request mean nothing; keep watching
  hungUp_ = true;
  if (stage_ == Stage::waiting) {
    if (Console* console = server_.console(); console && ticket_ != 0) console->withdraw(ticket_);
    if (server_.logsEachRequest()) {
      note(plan_->method + " " + plan_->path + ": the client hung up before the answer");
    }
    finish();
  } else if (stage_ == Stage::closing) {
    finish();
  }
}

void Connection::send(const Reply& reply) {
  timer_.cancel();
  stage_ = Stage::writing;
  response_ = responseTo(reply);
  if (!watching_) watchForHangUp();
  http::async_write(socket_, response_,
                    guarded([](Connection& self, error_code ec, size_t) { self.onSent(ec); }));
}

// The answer is out: send FIN and wait, boundedly, for the client to close its side. Closing at
// once could reset the connection, and a reset may drop the answer before the client reads it.
void Connection::onSent(error_code ec) {
  if (stage_ != Stage::writing) return;
  if (!ec && server_.logsEachRequest()) {
    const std::string status = std::to_string(response_.result_int());
    note(plan_ ? plan_->method + " " + plan_->path + " " + status : "unreadable request " + status);
  }
  stage_ = Stage::closing;
  if (ec || hungUp_) return finish();
  error_code ignored;
  socket_.shutdown(tcp::socket::shutdown_send, ignored);
  timer_.expires_after(kLingerDeadline);
  timer_.async_wait(guarded([](Connection& self, error_code ec) {
    if (!ec) self.finish();
  }));
}

// The one way a connection ends. The server's books come first, so that nothing after can leave
// them holding a connection about to be freed.
void Connection::finish() {
  if (stage_ == Stage::done) return;
  stage_ = Stage::done;
  server_.ended(this);
  error_code ignored;
  socket_.close(ignored);
  timer_.cancel();
}

int Server::run() {
  maxConnections_ = connectionLimit(options_.maxConnections);
  listen();
  const unsigned short port = acceptor_.local_endpoint().port();
  app_.listeningOn(port);
  writePortFile();
  if (options_.interactive) {
    console_.emplace(app_.catalogue(),
                     [this](std::function<void()> work) { asio::post(io_, std::move(work)); });
    console_->start(port);
  } else {
    note("listening on http://127.0.0.1:" + std::to_string(port));
  }
  signals_.async_wait([this](error_code ec, int signal) {
    if (ec) return;
    stop(signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP");
  });
  acceptNext();
  // A handler that throws is a fault of the sim, not of the client: say so and keep serving.
  // (A connection's own handlers catch what they throw; see Connection::guarded.)
  while (!io_.stopped()) {
    try {
      io_.run();
    } catch (const std::exception& e) {
      note(std::string("internal error: ") + e.what());
    }
  }
  // A port file left behind would point the next script at a port nobody serves.
  if (options_.portFile) std::remove(options_.portFile->c_str());
  return 0;
}

void Server::listen() {
  const tcp::endpoint loopback(asio::ip::address_v4::loopback(), options_.port);
  try {
    acceptor_.open(loopback.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(loopback);
    acceptor_.listen();
    acceptor_.non_blocking(true);  // for refuseAtOnce, which must not wait
  } catch (const boost::system::system_error& e) {
    const bool taken = e.code() == asio::error::address_in_use;
    fail("cannot listen on 127.0.0.1:" + std::to_string(options_.port) + ": " + e.code().message() +
         (taken ? " (--port 0 picks a free port)" : ""));
  }
}

// Written whole under another name and then renamed, so a script polling for the file never
// reads half a number.
void Server::writePortFile() const {
  if (!options_.portFile) return;
  const std::string& path = *options_.portFile;
  const std::string partial = path + ".partial";
  std::FILE* file = std::fopen(partial.c_str(), "w");
  bool written = file && std::fprintf(file, "%u\n", acceptor_.local_endpoint().port()) > 0;
  if (file && std::fclose(file) != 0) written = false;
  if (!written || std::rename(partial.c_str(), path.c_str()) != 0) {
    fail("cannot write the port to " + path);
  }
}

void Server::acceptNext() {
  acceptor_.async_accept([this](error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
    if (isOutOfDescriptors(ec) && spare_.release()) {
      const bool refused = refuseAtOnce();
      if (spare_.reserve() && refused) return acceptNext();
    }
    if (ec) {
      // Out of descriptors with none spare, most likely: try again shortly rather than spin.
      acceptRetry_.expires_after(100ms);
      acceptRetry_.async_wait([this](error_code ec) {
        if (ec) return;
        spare_.reserve();
        acceptNext();
      });
      return;
    }
    auto connection =
        std::make_shared<Connection>(std::move(socket), *this, live_.size() >= maxConnections_);
    live_.insert(connection.get());
    connection->start();
    acceptNext();
  });
}

// Takes the connection waiting and answers it 503 as one beyond the limit, at once: with what it
// has sent by now, recorded when that is a whole request. False when there was none to take.
bool Server::refuseAtOnce() {
  error_code ec;
  tcp::socket socket = acceptor_.accept(ec);
  if (ec) return false;
  socket.non_blocking(true, ec);
  std::string sent;
  for (std::array<char, 4096> chunk{}; !ec && sent.size() < kAtOnceReadLimit;) {
    sent.append(chunk.data(), socket.read_some(asio::buffer(chunk), ec));
  }
  http::request_parser<http::string_body> parser;
  parser.eager(true);
  parser.header_limit(kHeaderLimit);
  parser.body_limit(kAtOnceReadLimit);
  parser.put(asio::buffer(sent), ec);
  Plan plan;
  if (parser.is_done()) {
    const auto& request = parser.get();
    plan = app_.refuse(text(request.method_string()), text(request.target()), request.body(),
                       maxConnections_);
    if (console_) console_->show(plan);
  } else {
    plan.reply = errorReply(503, connectionsRefusal(maxConnections_));
  }
  // The answer is short enough for the socket's buffer; what was sent is read, so closing sends
  // no reset that could drop the answer.
  http::write(socket, responseTo(plan.reply), ec);
  if (logsEachRequest()) {
    note((plan.method.empty() ? "unread request" : plan.method + " " + plan.path) + " 503");
  }
  socket.shutdown(tcp::socket::shutdown_send, ec);
  return true;
}

void Server::received() {
  ++requests_;
  if (!options_.maxRequests || requests_ < *options_.maxRequests) return;
  // The last request is in: take no more, and drop connections that have not sent one.
  error_code ignored;
  acceptor_.close(ignored);
  auto connections = live_;
  for (Connection* connection : connections) {
    if (!connection->hasRequest()) connection->abort();
  }
}

void Server::ended(Connection* connection) {
  live_.erase(connection);
  if (options_.maxRequests && requests_ >= *options_.maxRequests && live_.empty()) {
    asio::post(io_, [this] { stop("answered " + std::to_string(requests_) + " requests"); });
  }
}

void Server::stop(const std::string& why) {
  if (stopping_) return;
  stopping_ = true;
  error_code ignored;
  acceptor_.close(ignored);
  signals_.cancel(ignored);
  auto connections = live_;
  for (Connection* connection : connections) connection->abort();
  if (console_) {
    console_->stop();
    std::fputs("\n", stdout);
    std::fflush(stdout);
  }
  note("stopped: " + why);
  io_.stop();
}

}  // namespace

int serve(const Options& options, Catalogue catalogue) {
  Server server(options, std::move(catalogue));
  return server.run();
}

}  // namespace sim

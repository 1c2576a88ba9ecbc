#include "loopback_server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <array>
#include <cctype>
#include <cstdint>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace vesk::test {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// Generous, so that long request headers reach the test instead of being refused here.
constexpr std::uint32_t headerLimit = 1024 * 1024;

class Connection;

// Beast 1.74 hands out boost::string_view.
std::string toString(beast::string_view text) {
  return std::string(text.data(), text.size());
}

std::string lowerCased(beast::string_view text) {
  std::string lower = toString(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

ReceivedRequest toReceivedRequest(const http::request<http::string_body>& request) {
  ReceivedRequest received;
  received.method = toString(request.method_string());
  received.target = toString(request.target());
  for (const auto& field : request) {
    auto [slot, isNew] = received.headers.try_emplace(lowerCased(field.name_string()));
    if (!isNew) slot->second += ", ";
    slot->second += toString(field.value());
  }
  received.body = request.body();
  return received;
}

http::response<http::string_body> toResponse(const Reply& reply) {
  http::response<http::string_body> response;
  response.version(11);
  response.result(static_cast<unsigned>(reply.status));
  if (!reply.reason.empty()) response.reason(reply.reason);
  for (const auto& [name, value] : reply.headers) response.insert(name, value);
  const bool lengthGiven = response.count(http::field::content_length) != 0 ||
                           response.count(http::field::transfer_encoding) != 0;
  if (!lengthGiven) response.content_length(reply.body.size());
  if (response.count(http::field::connection) == 0) response.keep_alive(false);
  response.body() = reply.body;
  return response;
}

}  // namespace

Reply respond(int status, std::string body) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

Reply rawReply(std::string bytes) {
  Reply reply;
  reply.mode = Reply::Mode::raw;
  reply.raw = std::move(bytes);
  return reply;
}

Reply silent() {
  Reply reply;
  reply.mode = Reply::Mode::silent;
  return reply;
}

Reply closeAfterRequest() {
  Reply reply;
  reply.mode = Reply::Mode::close;
  return reply;
}

Reply resetAfterRequest() {
  Reply reply;
  reply.mode = Reply::Mode::reset;
  return reply;
}

bool ReceivedRequest::hasHeader(std::string_view lowerName) const {
  return headers.find(std::string(lowerName)) != headers.end();
}

// Everything below the public interface. Only the server thread touches the sockets; `received`
// is shared with the test thread under `mutex`.
struct LoopbackServer::State {
  explicit State(Reply scripted) : reply(std::move(scripted)) {}

  ~State() {
    // stop() makes run() return even with reads, writes and timers pending; the handlers that
    // are never run are destroyed with io_context, which closes their connections.
    io.stop();
    if (thread.joinable()) thread.join();
  }

  void acceptNext();

  void record(ReceivedRequest request) {
    std::lock_guard lock(mutex);
    received.push_back(std::move(request));
  }

  const Reply reply;
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  mutable std::mutex mutex;
  std::vector<ReceivedRequest> received;
  std::vector<std::shared_ptr<Connection>> silentConnections;  // kept open until destruction
  unsigned short port = 0;  // copied out so the test thread never touches the acceptor
  std::thread thread;
};

namespace {

// One accepted connection: read one request, record it, answer as scripted. Each pending
// operation holds a shared_ptr to it, so it lives exactly as long as there is work on it.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, LoopbackServer::State& server)
      : socket_(std::move(socket)), server_(server), timer_(socket_.get_executor()) {}

  void start() {
    // Tests send bodies of several megabytes. Not boost::none: Beast 1.74 then rejects every
    // body with a Content-Length as over the limit.
    parser_.body_limit(std::numeric_limits<std::uint64_t>::max());
    parser_.header_limit(headerLimit);
    http::async_read_header(socket_, buffer_, parser_,
                            [self = shared_from_this()](error_code ec, std::size_t) {
                              if (!ec) self->onHeader();
                            });
  }

 private:
  void onHeader() {
    // A client that asks permission before sending its body would otherwise wait for it.
    const bool wantsContinue = beast::iequals(parser_.get()[http::field::expect], "100-continue");
    if (!wantsContinue || parser_.is_done()) return readBody();
    static constexpr std::string_view proceed = "HTTP/1.1 100 Continue\r\n\r\n";
    asio::async_write(socket_, asio::buffer(proceed.data(), proceed.size()),
                      [self = shared_from_this()](error_code ec, std::size_t) {
                        if (!ec) self->readBody();
                      });
  }

  void readBody() {
    http::async_read(socket_, buffer_, parser_,
                     [self = shared_from_this()](error_code ec, std::size_t) {
                       if (!ec) self->onRequest();
                     });
  }

  void onRequest() {
    server_.record(toReceivedRequest(parser_.get()));
    if (server_.reply.delay.count() <= 0) return answer();
    timer_.expires_after(server_.reply.delay);
    timer_.async_wait([self = shared_from_this()](error_code ec) {
      if (!ec) self->answer();
    });
  }

  void answer() {
    switch (server_.reply.mode) {
      case Reply::Mode::respond:
        response_ = toResponse(server_.reply);
        http::async_write(socket_, response_,
                          [self = shared_from_this()](error_code ec, std::size_t) {
                            if (!ec) self->closeGracefully();
                          });
        return;
      case Reply::Mode::raw:
        if (server_.reply.drip.count() > 0) return dripFrom(0);
        asio::async_write(socket_, asio::buffer(server_.reply.raw),
                          [self = shared_from_this()](error_code ec, std::size_t) {
                            if (!ec) self->rawWritten();
                          });
        return;
      case Reply::Mode::silent:
        server_.silentConnections.push_back(shared_from_this());
        return;
      case Reply::Mode::close:
        return closeGracefully();
      case Reply::Mode::reset:
        return resetAbruptly();
    }
  }

  // A slow peer: one byte, a pause, the next byte.
  void dripFrom(std::size_t at) {
    if (at == server_.reply.raw.size()) return rawWritten();
    asio::async_write(socket_, asio::buffer(server_.reply.raw.data() + at, 1),
                      [self = shared_from_this(), at](error_code ec, std::size_t) {
                        if (ec) return;
                        self->timer_.expires_after(self->server_.reply.drip);
                        self->timer_.async_wait([self, at](error_code ec) {
                          if (!ec) self->dripFrom(at + 1);
                        });
                      });
  }

  void rawWritten() {
    if (server_.reply.holdOpen) return server_.silentConnections.push_back(shared_from_this());
    closeGracefully();
  }

  // Send FIN, then read until the client closes. Closing at once could turn into a reset if
  // the client sent anything more, and a reset may discard the answer before vesk reads it.
  void closeGracefully() {
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    discardUntilPeerCloses();
  }

  void discardUntilPeerCloses() {
    socket_.async_read_some(asio::buffer(scratch_),
                            [self = shared_from_this()](error_code ec, std::size_t) {
                              if (!ec) self->discardUntilPeerCloses();
                            });
  }

  void resetAbruptly() {
    error_code ignored;
    socket_.set_option(tcp::socket::linger(true, 0), ignored);
    socket_.close(ignored);
  }

  tcp::socket socket_;
  LoopbackServer::State& server_;
  beast::flat_buffer buffer_;
  http::request_parser<http::string_body> parser_;
  asio::steady_timer timer_;
  http::response<http::string_body> response_;
  std::array<char, 4096> scratch_{};
};

}  // namespace

void LoopbackServer::State::acceptNext() {
  acceptor.async_accept([this](error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (!ec) std::make_shared<Connection>(std::move(socket), *this)->start();
    acceptNext();
  });
}

LoopbackServer::LoopbackServer(Reply reply) : state_(std::make_unique<State>(std::move(reply))) {
  if (state_->reply.mode == Reply::Mode::respond &&
      (state_->reply.status < 100 || state_->reply.status > 999)) {
    throw std::invalid_argument("Reply::status must be within 100..999");
  }
  tcp::acceptor& acceptor = state_->acceptor;
  const tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
  acceptor.open(loopback.protocol());
  acceptor.bind(loopback);
  acceptor.listen();
  state_->port = acceptor.local_endpoint().port();
  state_->acceptNext();
  state_->thread = std::thread([state = state_.get()] {
    // A throwing handler must not end the process or the serving; run() may be resumed.
    for (;;) {
      try {
        state->io.run();
        return;
      } catch (...) {
      }
    }
  });
}

LoopbackServer::~LoopbackServer() = default;

unsigned short LoopbackServer::port() const {
  return state_->port;
}

std::vector<ReceivedRequest> LoopbackServer::requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->received;
}

int unusedPort() {
  asio::io_context io;
  tcp::acceptor acceptor(io);
  const tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
  acceptor.open(loopback.protocol());
  acceptor.bind(loopback);  // never listened on, and released on return
  return acceptor.local_endpoint().port();
}

}  // namespace vesk::test

#include "client/data_task.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include "cli/unicode.h"

namespace vesk {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// Response headers past this size are not from the app; the body has no limit at all.
constexpr std::uint32_t kHeaderLimit = 1 << 20;
constexpr std::size_t kReadSize = 1 << 16;
// A body of known length is zero-filled this much at a time, just ahead of the bytes read into it:
// small enough to stay in the processor's cache until the socket's bytes land on it.
constexpr std::size_t kBodyWindow = 1 << 18;

// A deadline of about a century: far enough to be "no limit" in practice, near enough that
// adding it to the clock cannot overflow.
constexpr double kLongestTimeoutSeconds = 100.0 * 365 * 24 * 3600;

std::chrono::steady_clock::duration deadlineAfter(double seconds) {
  double bounded = std::clamp(seconds, 0.0, kLongestTimeoutSeconds);
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(bounded));
}

// Maps the memory a window of the body is about to be read into with one call, where touching
// it would take a page fault for every 4 KiB. Advice only: where it is refused, the body is read
// all the same.
void mapAhead([[maybe_unused]] char* data, [[maybe_unused]] std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  constexpr std::uintptr_t kPage = 4096;
  auto begin = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kPage - 1);
  if (begin < end) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
}

// A request body sent from where its pieces lie, header and pieces in one gathering write.
struct PiecesBody {
  using value_type = std::vector<asio::const_buffer>;

  static std::uint64_t size(const value_type& pieces) { return asio::buffer_size(pieces); }

  class writer {
   public:
    using const_buffers_type = value_type;

    template <bool isRequest, class Fields>
    writer(const http::header<isRequest, Fields>&, const value_type& pieces) : pieces_(pieces) {}

    void init(beast::error_code& ec) { ec = {}; }
    boost::optional<std::pair<const_buffers_type, bool>> get(beast::error_code& ec) {
      ec = {};
      return std::pair{pieces_, false};
    }

   private:
    const value_type& pieces_;
  };
};

// The state of one exchange; lives on the stack of the thread that runs it.
class Exchange {
 public:
  Exchange(HttpRequest& request, const CompletionHandler& completion)
      : request_(request), completion_(completion), io_(1), stream_(io_) {}

  // Also when run() ends by an exception: no close may be posted to an io_context that is gone.
  ~Exchange() {
    if (request_.cancellation) request_.cancellation->detach();
  }

  void run() {
    boost::system::error_code ec;
    auto address = asio::ip::make_address(request_.host, ec);
    if (ec) return finishWithError(TransportError::Kind::cannotConnect, ec);
    buildRequest();
    stream_.expires_after(deadlineAfter(request_.timeoutSeconds));
    stream_.async_connect(tcp::endpoint(address, request_.port),
                          [this](beast::error_code ec) { onConnect(ec); });
    if (request_.cancellation) {
      // Closing aborts whatever operation is pending with an error, which ends the exchange.
      request_.cancellation->attach([this] { asio::post(io_, [this] { stream_.close(); }); });
    }
    io_.run();
  }

 private:
  void buildRequest() {
    message_.method_string(request_.method);
    message_.target(request_.target);
    message_.version(11);
    message_.set(http::field::host, request_.host + ":" + std::to_string(request_.port));
    if (request_.jsonBody) {
      message_.set(http::field::content_type, "application/json");
      for (std::string_view piece : *request_.jsonBody) {
        message_.body().emplace_back(piece.data(), piece.size());
      }
    }
    message_.prepare_payload();
  }

  void onConnect(beast::error_code ec) {
    if (ec) {
      return finishWithError(ec == beast::error::timeout ? TransportError::Kind::timedOut
                                                         : TransportError::Kind::cannotConnect,
                             ec);
    }
    // One request, one answer: a large body must not wait on Nagle for the header's ACK.
    beast::error_code ignored;
    stream_.socket().set_option(tcp::no_delay(true), ignored);
    http::async_write(stream_, message_,
                      [this](beast::error_code ec, std::size_t) { onWrite(ec); });
  }

  void onWrite(beast::error_code ec) {
    if (ec == beast::error::timeout) return finishWithError(TransportError::Kind::timedOut, ec);
    // An app may answer and close before it has read the whole request: its answer still counts,
    // so a failed write is reported only if no answer can be read after it.
    writeError_ = ec;
    readResponse();
  }

  void readResponse() {
    parser_.emplace();
    // Not boost::none: Boost 1.74 compares a Content-Length against an empty limit as "exceeded".
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    parser_->header_limit(kHeaderLimit);
    // Reads are as large as the buffer's room, at least 512 bytes: a large answer in 512-byte
    // reads is thousands of system calls.
    buffer_.reserve(kReadSize);
    http::async_read_header(stream_, buffer_, *parser_,
                            [this](beast::error_code ec, std::size_t) { onHeader(ec); });
  }

  void onHeader(beast::error_code ec) {
    if (ec) return onReadError(ec);
    unsigned status = parser_->get().result_int();
    // Interim answers (100 Continue, 103 Early Hints) come before the real one; 101 is final.
    if (status >= 100 && status < 200 && status != 101) return readResponse();
    if (parser_->is_done()) return finish();
    auto length = parser_->content_length();
    if (!length || parser_->chunked()) {
      // Chunks, or a body that ends with the connection: Beast reads them as they come.
      return http::async_read(stream_, buffer_, *parser_,
                              [this](beast::error_code ec, std::size_t) { onRead(ec); });
    }
    // A body of known length goes once, straight from the socket, into the text it is parsed
    // from: no copy through the read buffer, no growing on the way. Its room is reserved whole
    // but filled as bytes arrive, so a length the app announces but does not send costs no more
    // memory than a window, or one large page, beyond what came.
    auto& body = parser_->get().body();
    if (*length > body.max_size()) return onReadError(http::error::buffer_overflow);
    bodyLength_ = static_cast<std::size_t>(*length);
    body.reserve(bodyLength_);
    body.resize(std::min(buffer_.size(), bodyLength_));
    bodyRead_ = asio::buffer_copy(asio::buffer(body), buffer_.data());
    buffer_.consume(bodyRead_);
    utf8_.arrived({body.data(), bodyRead_});
    readBody();
  }

  // The body's size runs ahead of what has been read, a window at a time, never past its length.
  void readBody() {
    if (bodyRead_ == bodyLength_) return finish();
    auto& body = parser_->get().body();
    if (bodyRead_ == body.size()) {
      std::size_t window = std::min(bodyLength_ - bodyRead_, kBodyWindow);
      mapAhead(body.data() + bodyRead_, window);
      body.resize(bodyRead_ + window);
    }
    stream_.async_read_some(asio::buffer(body.data() + bodyRead_, body.size() - bodyRead_),
                            [this](beast::error_code ec, std::size_t n) {
                              bodyRead_ += n;
                              auto& body = parser_->get().body();
                              utf8_.arrived({body.data(), bodyRead_});
                              // An app that hangs up before its whole body has sent a partial
                              // message, as Beast reports for any other.
                              if (ec == asio::error::eof) ec = http::error::partial_message;
                              if (ec) return onReadError(ec);
                              readBody();
                            });
  }

  void onRead(beast::error_code ec) {
    if (ec) return onReadError(ec);
    finish();
  }

  void onReadError(beast::error_code ec) {
    if (writeError_ && ec != beast::error::timeout) {
      return finishWithError(TransportError::Kind::other, writeError_);
    }
    finishWithError(kindOf(ec), ec);
  }

  void finish() {
    auto& response = parser_->get();
    unsigned status = response.result_int();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
    // HTTP statuses have three digits from 100 up: a "000" answer is not an HTTP response.
    std::optional<HttpResponse> http;
    if (status >= 100) http = HttpResponse{static_cast<int>(status), utf8_.valid(response.body())};
    completion_(std::move(response.body()), http, std::nullopt);
  }

  static TransportError::Kind kindOf(beast::error_code ec) {
    return ec == beast::error::timeout ? TransportError::Kind::timedOut
                                       : TransportError::Kind::other;
  }

  void finishWithError(TransportError::Kind kind, beast::error_code ec) {
    stream_.close();
    completion_(std::nullopt, std::nullopt, TransportError{kind, describe(ec)});
  }

  // The platform's own text for an error, but where Beast's says nothing to a user: a port
  // forwarded over SSH with no app behind it accepts the connection, then closes it unanswered.
  static std::string describe(beast::error_code ec) {
    if (ec == http::error::end_of_stream)
      return "the connection was closed before an answer arrived";
    return ec.message();
  }

  HttpRequest& request_;
  const CompletionHandler& completion_;
  asio::io_context io_;
  beast::tcp_stream stream_;
  http::request<PiecesBody> message_;
  beast::flat_buffer buffer_;
  std::optional<http::response_parser<http::string_body>> parser_;
  std::size_t bodyLength_ = 0;  // of a body read straight from the socket
  std::size_t bodyRead_ = 0;
  Utf8Check utf8_;
  beast::error_code writeError_;
};

}  // namespace

void Cancellation::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  if (close_) std::exchange(close_, nullptr)();
}

bool Cancellation::cancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void Cancellation::attach(std::function<void()> close) {
  std::lock_guard lock(mutex_);
  if (cancelled_) return close();
  close_ = std::move(close);
}

void Cancellation::detach() {
  std::lock_guard lock(mutex_);
  close_ = nullptr;
}

DataTask::DataTask(HttpRequest request, CompletionHandler completion)
    : request_(std::move(request)), completion_(std::move(completion)) {}

void DataTask::run() {
  bool completed = false;
  CompletionHandler once = [&](std::optional<std::string> data,
                               std::optional<HttpResponse> response,
                               std::optional<TransportError> error) {
    completed = true;
    completion_(std::move(data), response, std::move(error));
  };
  try {
    Exchange(request_, once).run();
  } catch (const std::exception& e) {
    // Asio reports resource exhaustion by throwing; it is still one error of the exchange.
    if (!completed) once(std::nullopt, std::nullopt, {{TransportError::Kind::other, e.what()}});
  }
}

}  // namespace vesk

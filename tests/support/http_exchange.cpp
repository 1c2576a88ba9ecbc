#include "http_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <sstream>
#include <system_error>

namespace vesk::test {
namespace {

HttpAnswer parse(const std::string& raw) {
  HttpAnswer answer;
  size_t headEnd = raw.find("\r\n\r\n");
  if (headEnd == std::string::npos) return answer;
  std::istringstream head(raw.substr(0, headEnd));
  std::string version, line;
  head >> version >> answer.status;
  std::getline(head, line);  // the rest of the status line
  while (std::getline(head, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t valueAt = line.find_first_not_of(' ', colon + 1);
    answer.headers[name] = valueAt == std::string::npos ? "" : line.substr(valueAt);
  }
  answer.body = raw.substr(headEnd + 4);
  return answer;
}

}  // namespace

HttpAnswer exchangeRaw(unsigned short port, const std::string& bytes) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    ::close(fd);
    throw std::system_error(error, std::generic_category(), "connect");
  }
  for (size_t sent = 0; sent < bytes.size();) {
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, 0);
    if (n <= 0) break;  // the server may answer before reading everything
    sent += static_cast<size_t>(n);
  }
  std::string raw;
  char chunk[8192];
  for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;)
    raw.append(chunk, static_cast<size_t>(n));
  ::close(fd);
  return parse(raw);
}

HttpAnswer exchange(unsigned short port, const std::string& method, const std::string& target,
                    const std::optional<std::string>& body) {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (body) {
    request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body->size()) +
               "\r\n";
  }
  request += "Connection: close\r\n\r\n" + body.value_or("");
  return exchangeRaw(port, request);
}

}  // namespace vesk::test

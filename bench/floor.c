/* The least any client can do: one socket, one fixed request, print the body.
 * Usage: bench-floor PORT METHOD PATH [BODY] */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s PORT METHOD PATH [BODY]\n", argv[0]);
    return 2;
  }
  const char* body = argc > 4 ? argv[4] : NULL;
  size_t body_length = body ? strlen(body) : 0;
  char head[512];
  int head_length =
      body ? snprintf(head, sizeof head,
                      "%s %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Type: application/json\r\n"
                      "Content-Length: %zu\r\n\r\n",
                      argv[2], argv[3], argv[1], body_length)
           : snprintf(head, sizeof head, "%s %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\n\r\n", argv[2],
                      argv[3], argv[1]);

  int fd = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in address = {0};
  address.sin_family = AF_INET;
  address.sin_port = htons((unsigned short)atoi(argv[1]));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0) return 1;
  if (write(fd, head, (size_t)head_length) != head_length) return 1;
  for (size_t sent = 0; sent < body_length;) {
    ssize_t n = write(fd, body + sent, body_length - sent);
    if (n <= 0) return 1;
    sent += (size_t)n;
  }

  static char answer[1 << 16];
  size_t used = 0;
  ssize_t n;
  while (used < sizeof answer - 1 && (n = read(fd, answer + used, sizeof answer - 1 - used)) > 0) {
    used += (size_t)n;
  }
  answer[used] = '\0';
  char* start = strstr(answer, "\r\n\r\n");
  if (!start) return 1;
  puts(start + 4);
  return 0;
}

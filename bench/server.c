/* A loopback HTTP server for benchmarks: answers /health, /overlay and /chat at once, reads any
 * request body whole, never sends "100 Continue", and exits by itself after a bounded time.
 * Usage: bench-server PORT [SECONDS [ANSWER_BYTES]]; with PORT 0 it picks a free port and prints
 * it. With ANSWER_BYTES, /chat answers with an answer that long. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

static char request[1 << 20];

/* Reads until the end of the headers and then the whole body; the client's request is small
 * enough for the buffer, and a larger body is read and dropped. */
static size_t read_request(int fd) {
  size_t used = 0;
  char* end = NULL;
  while (!end) {
    ssize_t n = read(fd, request + used, sizeof request - 1 - used);
    if (n <= 0) return 0;
    used += (size_t)n;
    request[used] = '\0';
    end = strstr(request, "\r\n\r\n");
  }
  size_t header = (size_t)(end + 4 - request);
  size_t length = 0;
  for (char* line = strchr(request, '\n'); line && line < end; line = strchr(line + 1, '\n')) {
    if (strncasecmp(line + 1, "content-length:", 15) == 0) length = strtoul(line + 16, NULL, 10);
  }
  size_t have = used - header;
  char sink[65536];
  while (have < length) {
    ssize_t n = read(fd, sink, sizeof sink);
    if (n <= 0) break;
    have += (size_t)n;
  }
  return used;
}

static char* big_answer; /* {"answer":"yyy..."} when ANSWER_BYTES is given */

static const char* body_for(const char* path) {
  if (strncmp(path, "/health ", 8) == 0) {
    return "{\"port\":47037,\"games\":[\"tic_tac_toe\",\"snake\",\"hangman\"]}";
  }
  if (strncmp(path, "/chat ", 6) == 0) return big_answer ? big_answer : "{\"answer\":\"Yes\"}";
  return "{\"ok\":true}";
}

static void write_all(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, data, length);
    if (n <= 0) return;
    data += n;
    length -= (size_t)n;
  }
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s PORT [SECONDS]\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  alarm(argc > 2 ? (unsigned)atoi(argv[2]) : 600); /* never outlives a benchmark run */
  if (argc > 3) {
    size_t bytes = strtoul(argv[3], NULL, 10);
    big_answer = malloc(bytes + 16);
    memcpy(big_answer, "{\"answer\":\"", 11);
    memset(big_answer + 11, 'y', bytes);
    strcpy(big_answer + 11 + bytes, "\"}");
  }
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  struct sockaddr_in address = {0};
  address.sin_family = AF_INET;
  address.sin_port = htons((unsigned short)atoi(argv[1]));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, (struct sockaddr*)&address, sizeof address) != 0 || listen(listener, 128) != 0) {
    perror("bench-server");
    return 1;
  }
  socklen_t length = sizeof address;
  getsockname(listener, (struct sockaddr*)&address, &length);
  printf("%d\n", ntohs(address.sin_port));
  fflush(stdout);
  for (;;) {
    int fd = accept(listener, NULL, NULL);
    if (fd < 0) continue;
    if (read_request(fd) > 0) {
      const char* path = strchr(request, ' ');
      const char* body = body_for(path ? path + 1 : "");
      size_t body_length = strlen(body);
      char answer[1024];
      int n = snprintf(answer, sizeof answer,
                       "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                       "Content-Length: %zu\r\nConnection: close\r\n\r\n%s",
                       body_length, body_length < 512 ? body : "");
      write_all(fd, answer, (size_t)n); /* a small answer goes out in one write */
      if (body_length >= 512) write_all(fd, body, body_length);
    }
    close(fd);
  }
}

/* The least any client can do: one socket, one fixed request, print the body.
 * Usage: bench-floor PORT METHOD PATH [BODY | --object KEY VALUE...]
 * With --object the body is the JSON object of those texts, written from where they lie (no
 * escaping: the least a client that takes a card's texts as arguments can do). */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s PORT METHOD PATH [BODY]\n", argv[0]);
    return 2;
  }
  const char* body = argc > 4 ? argv[4] : NULL;
  size_t body_length = body ? strlen(body) : 0;
  /* {"KEY":"VALUE",...} as pieces: the punctuation and the texts, one after the other. */
  static struct iovec pieces[256];
  static const char* const punctuation[] = {"{\"", "\":\"", "\",\"", "\"}"};
  int count = 0;
  if (body && strcmp(body, "--object") == 0) {
    body_length = 0;
    for (int i = 5; i < argc && count < 250; ++i) {
      const char* before = i == 5 ? punctuation[0] : (i - 5) % 2 ? punctuation[1] : punctuation[2];
      pieces[count++] = (struct iovec){(void*)before, strlen(before)};
      pieces[count++] = (struct iovec){argv[i], strlen(argv[i])};
    }
    pieces[count++] = (struct iovec){(void*)punctuation[3], 2};
    for (int i = 0; i < count; ++i) body_length += pieces[i].iov_len;
  } else if (body) {
    pieces[count++] = (struct iovec){(void*)body, body_length};
  }
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
  for (struct iovec* next = pieces; count > 0;) {
    ssize_t n = writev(fd, next, count);
    if (n <= 0) return 1;
    for (; count > 0 && (size_t)n >= next->iov_len; --count) n -= (ssize_t)(next++)->iov_len;
    if (count > 0) {
      next->iov_base = (char*)next->iov_base + n;
      next->iov_len -= (size_t)n;
    }
  }

  /* The answer's body goes out as it comes in, however large. */
  static char answer[1 << 16];
  size_t used = 0;
  ssize_t n;
  char* start = NULL;
  while (!start && used < sizeof answer - 1 &&
         (n = read(fd, answer + used, sizeof answer - 1 - used)) > 0) {
    used += (size_t)n;
    answer[used] = '\0';
    start = strstr(answer, "\r\n\r\n");
  }
  if (!start) return 1;
  fwrite(start + 4, 1, used - (size_t)(start + 4 - answer), stdout);
  while ((n = read(fd, answer, sizeof answer)) > 0) fwrite(answer, 1, (size_t)n, stdout);
  putchar('\n');
  return 0;
}

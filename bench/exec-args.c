/* Runs the command whose words are in FILE, separated by NUL bytes: hyperfine takes a command as
 * one argument, and Linux passes at most 128 KB in one, less than a 1 MB card's command line.
 * Usage: exec-args FILE */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  static char words[4 << 20];
  static char* list[64];
  int in = argc == 2 ? open(argv[1], O_RDONLY) : -1;
  ssize_t size = in < 0 ? -1 : read(in, words, sizeof words - 1);
  if (size <= 0) {
    fprintf(stderr, "usage: %s FILE (NUL-separated words)\n", argv[0]);
    return 2;
  }
  int count = 0;
  for (ssize_t at = 0; at < size && count < 63; ++count) {
    list[count] = words + at;
    while (at < size && words[at] != '\0') ++at;
    words[at++] = '\0';
  }
  list[count] = NULL;
  execv(list[0], list);
  perror(list[0]);
  return 127;
}

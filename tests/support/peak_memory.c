/* Runs a program and writes its peak resident memory, in kilobytes, to a file; exits as the
 * program did. Usage: peak_memory FILE PROGRAM [ARG...]
 * The program is forked from this small process rather than from a test: on Linux a process
 * inherits the high-water mark of the memory it replaced at exec. */
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s FILE PROGRAM [ARG...]\n", argv[0]);
    return 2;
  }
  pid_t pid = fork();
  if (pid == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 2;
  FILE* file = fopen(argv[1], "w");
  if (file) {
#ifdef __APPLE__
    fprintf(file, "%ld\n", (long)usage.ru_maxrss / 1024); /* bytes there */
#else
    fprintf(file, "%ld\n", (long)usage.ru_maxrss);
#endif
    fclose(file);
  }
  if (WIFSIGNALED(status)) {
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}

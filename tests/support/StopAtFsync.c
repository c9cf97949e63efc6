// Loaded into a program under test with LD_PRELOAD: when the program flushes a file whose path
// holds the text in WG_STOP_AT_FSYNC, the process stops itself (SIGSTOP) before the flush, so that a
// test can act at that exact point of a write and then let it go on (SIGCONT).
#define _GNU_SOURCE
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

int fsync(int fd) {
  const char* wanted = getenv("WG_STOP_AT_FSYNC");
  if (wanted && *wanted) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n > 0) {
      path[n] = '\0';
      if (strstr(path, wanted)) raise(SIGSTOP);
    }
  }
  return (int)syscall(SYS_fsync, fd);
}

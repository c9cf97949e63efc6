// Measuring work from outside: it runs in a child process, and the parent takes its wall time, its
// peak resident memory and whether it exited with 0.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace bench {

struct Outcome {
  double seconds = 0;
  double peakMb = 0;
  bool ok = false;
};

// Runs `work` in a forked child, which exits with what it returns (or 1 if it throws).
template <typename Work>
Outcome RunInChild(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 1;
    try {
      code = work();
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Outcome o;
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  o.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  o.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return o;
}

}  // namespace bench

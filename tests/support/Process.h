// Programs the tests start and wait for: the greeting itself, an X server, xdotool.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace wgtest {

// Starts `args` (the program looked up on PATH unless it is a path) with stdout and stderr in `log`.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    FILE* f = std::freopen(log.c_str(), "w", stdout);
    (void)f;
    dup2(STDOUT_FILENO, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Polls `done` every 20 ms for up to `seconds`; whether it came true.
inline bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace wgtest

// Child processes for tests that run programs as a user would: started with extra environment
// variables and their output in a log, waited for with a deadline, ended by their own id.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace wgtest {

// Starts `args` (args[0] a path, or a name looked up on PATH) with `env` added to the environment,
// stdout and stderr going to `log` (nothing when empty). Returns the child's id, or -1.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& log,
                   const std::vector<std::pair<std::string, std::string>>& env = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    FILE* f = std::freopen(log.empty() ? "/dev/null" : log.c_str(), "w", stdout);
    (void)f;
    dup2(STDOUT_FILENO, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// Whether `program` is a command the shell finds.
inline bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool WaitFor(const std::function<bool()>& cond, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// The child's wait status once it has ended, or nothing if it is still running after `seconds`.
inline std::optional<int> WaitExit(pid_t pid, double seconds) {
  int status = 0;
  if (WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds)) return status;
  return std::nullopt;
}

// Ends a child that is still running and reaps it.
inline void Stop(pid_t pid) {
  // Not stopped twice: a child already reaped may have lent its id to another process.
  if (pid <= 0 || waitpid(pid, nullptr, WNOHANG) != 0) return;
  kill(pid, SIGTERM);
  if (!WaitExit(pid, 5)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

}  // namespace wgtest

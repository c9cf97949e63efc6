// What the music tests share: an environment variable set for one test, and the message of the error
// a call throws.
#pragma once

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/base/Error.h"

namespace wgtest {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// The message of the platform::Error `f` throws; "no error" where it throws none.
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace wgtest

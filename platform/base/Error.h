// The error every failing platform call throws: it names the call, the cause and, where one is
// involved, the file.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

class Error : public std::runtime_error {
 public:
  Error(const std::string& call, const std::string& cause) : std::runtime_error(call + ": " + cause) {}
  Error(const std::string& call, const std::string& cause, const std::string& file)
      : std::runtime_error(call + ": " + cause + " (" + file + ")") {}
};

}  // namespace platform

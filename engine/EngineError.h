// Error kinds of the media engine.
#pragma once

#include <stdexcept>
#include <string>

// A condition that ends an engine operation; its text is the message shown to the user.
class EFFmpegError : public std::runtime_error {
 public:
  explicit EFFmpegError(const std::string& message) : std::runtime_error(message) {}
};

// A programming error of a caller (an empty library set, a second logger).
class EAssertionFailed : public std::logic_error {
 public:
  explicit EAssertionFailed(const std::string& message) : std::logic_error(message) {}
};

// Owner of one POSIX file descriptor (internal to the platform library).
#pragma once

#include <unistd.h>

class TUniqueFd {
 public:
  explicit TUniqueFd(int fd = -1) : FFd(fd) {}
  ~TUniqueFd() { Close(); }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  int Get() const { return FFd; }
  explicit operator bool() const { return FFd >= 0; }

  // Closes now so that the caller can see the result (close can report a late write error).
  int Close() {
    if (FFd < 0) return 0;
    const int result = ::close(FFd);
    FFd = -1;
    return result;
  }

 private:
  int FFd;
};

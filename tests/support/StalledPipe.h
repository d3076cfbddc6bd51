// A named pipe that delivers the first part of a file and then holds still with its writing
// end open, like a stream whose sender has stopped: a reader of it waits for data for ever.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TStalledPipe {
 public:
  // `share` of the bytes of `source` go through the pipe at `path`.
  TStalledPipe(const std::string& path, const std::string& source, double share) : Path(path) {
    std::ifstream in(source, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(static_cast<size_t>(bytes.size() * std::clamp(share, 0.0, 1.0)));
    Created = ::mkfifo(path.c_str(), 0600) == 0;
    if (!Created) return;
    Writer = std::thread([this, bytes = std::move(bytes)] {
      const int fd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the reader
      if (fd < 0) return;
      for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      std::unique_lock lock(Mutex);
      Wake.wait(lock, [this] { return Released; });
      ::close(fd);
    });
  }
  ~TStalledPipe() {
    {
      std::lock_guard lock(Mutex);
      Released = true;
    }
    Wake.notify_all();
    if (Writer.joinable()) {
      // A writer still waiting for a reader is let through by one.
      const int fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      Writer.join();
      if (fd >= 0) ::close(fd);
    }
    if (Created) ::unlink(Path.c_str());
  }
  TStalledPipe(const TStalledPipe&) = delete;
  TStalledPipe& operator=(const TStalledPipe&) = delete;

  bool Ready() const { return Created; }

 private:
  std::string Path;
  bool Created = false;
  std::mutex Mutex;
  std::condition_variable Wake;
  bool Released = false;
  std::thread Writer;
};

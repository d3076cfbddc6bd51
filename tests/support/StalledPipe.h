// A named pipe that delivers the first part of a file and then holds still with its writing
// end open, like a stream whose sender has stopped: a reader of it waits for more data.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
    if (Created) Writer = std::thread([this, bytes = std::move(bytes)] { Send(bytes); });
  }
  ~TStalledPipe() {
    Release();
    if (Writer.joinable()) Writer.join();
    if (Created) ::unlink(Path.c_str());
  }
  TStalledPipe(const TStalledPipe&) = delete;
  TStalledPipe& operator=(const TStalledPipe&) = delete;

  bool Ready() const { return Created; }
  // The sender closes its end: the reader sees the end of the stream.
  void Release() {
    {
      std::lock_guard lock(Mutex);
      Released = true;
    }
    Wake.notify_all();
  }

 private:
  bool IsReleased() {
    std::lock_guard lock(Mutex);
    return Released;
  }

  // Never blocks for long, so a reader that never comes, stops reading or goes away cannot
  // hold the test; a reader gone raises no SIGPIPE here.
  void Send(const std::vector<char>& bytes) {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    int fd = -1;
    while ((fd = ::open(Path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENXIO && !IsReleased())
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // no reader yet
    if (fd < 0) return;
    for (size_t done = 0; done < bytes.size() && !IsReleased();) {
      pollfd room{fd, POLLOUT, 0};
      if (::poll(&room, 1, 100) <= 0) continue;
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    std::unique_lock lock(Mutex);
    Wake.wait(lock, [this] { return Released; });
    ::close(fd);
  }

  std::string Path;
  bool Created = false;
  std::mutex Mutex;
  std::condition_variable Wake;
  bool Released = false;
  std::thread Writer;
};

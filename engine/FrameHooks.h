// The frame-hook modules of one task.
#pragma once

#include <string>
#include <vector>

#include "FrameHookModule.h"

struct AVFrame;

class TFrameHooks {
 public:
  ~TFrameHooks() { Release(); }
  // Loads the module (once per process) and configures it for this task. On failure logs
  // the reason through the libraries' log and returns false.
  bool Add(const std::vector<std::string>& arguments);
  bool Empty() const { return Hooks.empty(); }
  // Runs every module on the picture, in the order they were added.
  void Process(AVFrame* frame, int64_t timeUs);
  void Release();

 private:
  struct THook {
    TFrameHookProcess Process = nullptr;
    TFrameHookRelease ReleaseContext = nullptr;
    void* Context = nullptr;
  };
  std::vector<THook> Hooks;
};

#include "FrameHooks.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "FFmpegEntryPoints.h"

namespace {

// Modules stay loaded for the process's life, keyed by the name they were given as.
void* LoadModule(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, void*> modules;
  std::lock_guard lock(mutex);
  auto it = modules.find(name);
  if (it != modules.end()) return it->second;
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle) modules.emplace(name, handle);
  return handle;
}

void LogError(const char* format, const std::string& name) { Lib.av_log(nullptr, AV_LOG_ERROR, format, name.c_str()); }

}  // namespace

bool TFrameHooks::Add(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return false;
  const std::string& name = arguments[0];
  void* module = LoadModule(name);
  if (!module) {
    Lib.av_log(nullptr, AV_LOG_ERROR, "%s\n", dlerror());
    return false;
  }
  THook hook;
  hook.Process = reinterpret_cast<TFrameHookProcess>(dlsym(module, "Process"));
  if (!hook.Process) {
    LogError("Failed to find Process entrypoint in %s\n", name);
    return false;
  }
  hook.ReleaseContext = reinterpret_cast<TFrameHookRelease>(dlsym(module, "Release"));
  if (arguments.size() > 1) {
    auto configure = reinterpret_cast<TFrameHookConfigure>(dlsym(module, "Configure"));
    if (!configure) {
      LogError("Failed to find Configure entrypoint in %s\n", name);
      return false;
    }
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& piece : copies) argv.push_back(piece.data());
    argv.push_back(nullptr);
    if (configure(&hook.Context, static_cast<int>(copies.size()), argv.data()) != 0) {
      LogError("Failed to Configure %s\n", name);
      return false;
    }
  }
  Hooks.push_back(hook);
  return true;
}

void TFrameHooks::Process(AVFrame* frame, int64_t timeUs) {
  if (Hooks.empty() || Lib.av_frame_make_writable(frame) < 0) return;
  for (const THook& hook : Hooks)
    hook.Process(hook.Context, frame->data, frame->linesize, frame->format, frame->width, frame->height, timeUs);
}

void TFrameHooks::Release() {
  for (const THook& hook : Hooks)
    if (hook.ReleaseContext) hook.ReleaseContext(hook.Context);
  Hooks.clear();
}

#include "FFmpegLoader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include "EngineError.h"
#include "FFUtils.h"
#include "FFmpegLogger.h"
#include "UnicodeProtocol.h"

TLibAV Lib;

namespace {

using TBindRoutine = void (*)(const std::string& fileName, void* handle);
using TUnbindRoutine = void (*)();

void* ResolveFunction(void* handle, const char* name, const std::string& fileName) {
  dlerror();
  void* address = dlsym(handle, name);
  if (!address) {
    const char* why = dlerror();
    throw EFFmpegError(Format("Load function %s@%s error: %s", name, fileName.c_str(),
                              why ? why : "symbol not found"));
  }
  return address;
}

#define ONDREL_BIND_ENTRY(name) \
  Lib.name = reinterpret_cast<decltype(Lib.name)>(ResolveFunction(handle, #name, fileName));
#define ONDREL_UNBIND_ENTRY(name) Lib.name = nullptr;
#define ONDREL_BINDERS(Suffix, LIST)                                               \
  void Bind##Suffix(const std::string& fileName, void* handle) { LIST(ONDREL_BIND_ENTRY) } \
  void Unbind##Suffix() { LIST(ONDREL_UNBIND_ENTRY) }

ONDREL_BINDERS(AVCodec, ONDREL_AVCODEC_ENTRIES)
ONDREL_BINDERS(AVFilter, ONDREL_AVFILTER_ENTRIES)
ONDREL_BINDERS(AVFormat, ONDREL_AVFORMAT_ENTRIES)
ONDREL_BINDERS(AVUtil, ONDREL_AVUTIL_ENTRIES)
ONDREL_BINDERS(SwScale, ONDREL_SWSCALE_ENTRIES)
ONDREL_BINDERS(SwResample, ONDREL_SWRESAMPLE_ENTRIES)
ONDREL_BINDERS(SDL, ONDREL_SDL_ENTRIES)

// This generation still wants its device registration call after binding.
void BindAVDeviceAndRegister(const std::string& fileName, void* handle) {
  ONDREL_AVDEVICE_ENTRIES(ONDREL_BIND_ENTRY)
  Lib.avdevice_register_all();
}
void UnbindAVDevice() { ONDREL_AVDEVICE_ENTRIES(ONDREL_UNBIND_ENTRY) }

struct TLibraryItem {
  TMediaLibrary Library;
  const char* BaseName;
  int Version;  // -1: no version suffix
  TBindRoutine Bind;
  TUnbindRoutine Unbind;
};

const TLibraryItem LibraryItems[MediaLibraryCount] = {
    {TMediaLibrary::libAVCodec, "libavcodec", LIBAVCODEC_VERSION_MAJOR, BindAVCodec, UnbindAVCodec},
    {TMediaLibrary::libAVDevice, "libavdevice", LIBAVDEVICE_VERSION_MAJOR, BindAVDeviceAndRegister,
     UnbindAVDevice},
    {TMediaLibrary::libAVFilter, "libavfilter", LIBAVFILTER_VERSION_MAJOR, BindAVFilter, UnbindAVFilter},
    {TMediaLibrary::libAVFormat, "libavformat", LIBAVFORMAT_VERSION_MAJOR, BindAVFormat, UnbindAVFormat},
    {TMediaLibrary::libAVUtil, "libavutil", LIBAVUTIL_VERSION_MAJOR, BindAVUtil, UnbindAVUtil},
    {TMediaLibrary::libSwScale, "libswscale", LIBSWSCALE_VERSION_MAJOR, BindSwScale, UnbindSwScale},
    {TMediaLibrary::libSwResample, "libswresample", LIBSWRESAMPLE_VERSION_MAJOR, BindSwResample,
     UnbindSwResample},
    {TMediaLibrary::libSDL, "libSDL2-2.0", 0, BindSDL, UnbindSDL},
};

const TLibraryItem& Item(TMediaLibrary lib) { return LibraryItems[static_cast<int>(lib)]; }

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A library found in the given folder is opened from there; otherwise the system's default
// search finds it. The folder's own copies of dependencies are found through their RUNPATH.
// Unloading unbinds the entry points but leaves the code mapped (RTLD_NODELETE): the media
// libraries pull in libraries (glib's type system among them) that cannot be unmapped safely.
void* OpenModule(const std::string& directory, const std::string& file) {
  const std::string name = !directory.empty() && IsRegularFile(directory + file) ? directory + file : file;
  return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

}  // namespace

TFFmpegLoader& TFFmpegLoader::Instance() {
  static TFFmpegLoader loader;
  return loader;
}

void TFFmpegLoader::SetLibraryPath(const std::string& folder) {
  std::lock_guard lock(Mutex);
  LibraryFolder = folder;
}

std::string TFFmpegLoader::LibraryPath() const {
  std::lock_guard lock(Mutex);
  return LibraryFolder;
}

std::string TFFmpegLoader::LastErrorMessage() const {
  std::lock_guard lock(Mutex);
  return LastError;
}

std::string TFFmpegLoader::LibraryFileName(TMediaLibrary lib) {
  const TLibraryItem& item = Item(lib);
  std::string name = std::string(item.BaseName) + ".so";
  if (item.Version >= 0) name += "." + std::to_string(item.Version);
  return name;
}

bool TFFmpegLoader::LoadMediaLibrary(TMediaLibrary lib) {
  std::lock_guard lock(Mutex);
  return LoadLocked(lib);
}

bool TFFmpegLoader::LoadLocked(TMediaLibrary lib) {
  TLibraryStatus& status = Status[static_cast<int>(lib)];
  const std::string fileName = LibraryFileName(lib);
  if (!status.Handle) {
    std::string directory = LibraryFolder;
    if (!directory.empty() && directory.back() != '/') directory += '/';
    status.Handle = OpenModule(directory, fileName);
    if (!status.Handle) {
      const char* why = dlerror();
      LastError = Format("Load library %s error: %s", (directory + fileName).c_str(),
                         why ? why : "unknown error");
      return false;
    }
  }
  if (!status.Bound) {
    try {
      Item(lib).Bind(fileName, status.Handle);
      status.Bound = true;
    } catch (const std::exception& e) {
      Item(lib).Unbind();  // clear the entries bound before the missing one
      LastError = e.what();
    }
  }
  if (!status.Bound) {
    UnloadLocked(lib);
    return false;
  }
  if (lib == TMediaLibrary::libAVUtil) TFFLogger::Instance().InstallLibraryHook();
  if (lib == TMediaLibrary::libAVFormat) RegisterUnicodeProtocol();
  return true;
}

void TFFmpegLoader::UnloadMediaLibrary(TMediaLibrary lib) {
  std::lock_guard lock(Mutex);
  UnloadLocked(lib);
}

void TFFmpegLoader::UnloadLocked(TMediaLibrary lib) {
  TLibraryStatus& status = Status[static_cast<int>(lib)];
  if (status.Bound) {
    Item(lib).Unbind();
    status.Bound = false;
  }
  if (status.Handle) {
    dlclose(status.Handle);
    status.Handle = nullptr;
  }
}

void TFFmpegLoader::RequireNonEmpty(TMediaLibrarySet set, const char* operation) {
  if (set.Empty()) throw EAssertionFailed(Format("%s: empty library set", operation));
}

bool TFFmpegLoader::Load(TMediaLibrarySet set) {
  RequireNonEmpty(set, "Load");
  std::lock_guard lock(Mutex);
  TMediaLibrarySet loadedHere;
  for (int i = 0; i < MediaLibraryCount; ++i) {
    const auto lib = static_cast<TMediaLibrary>(i);
    if (!set.Contains(lib)) continue;
    const bool wasLoaded = IsLoadedLocked(lib);
    if (!LoadLocked(lib)) {
      for (int j = 0; j < i; ++j)
        if (loadedHere.Contains(static_cast<TMediaLibrary>(j))) UnloadLocked(static_cast<TMediaLibrary>(j));
      return false;
    }
    if (!wasLoaded) loadedHere.Include(lib);
  }
  return true;
}

void TFFmpegLoader::Unload(TMediaLibrarySet set) {
  RequireNonEmpty(set, "Unload");
  std::lock_guard lock(Mutex);
  for (int i = 0; i < MediaLibraryCount; ++i)
    if (set.Contains(static_cast<TMediaLibrary>(i))) UnloadLocked(static_cast<TMediaLibrary>(i));
}

bool TFFmpegLoader::IsLoadedLocked(TMediaLibrary lib) const {
  const TLibraryStatus& status = Status[static_cast<int>(lib)];
  return status.Handle && status.Bound;
}

bool TFFmpegLoader::IsLoaded(TMediaLibrary lib) const {
  std::lock_guard lock(Mutex);
  return IsLoadedLocked(lib);
}

bool TFFmpegLoader::Loaded(TMediaLibrarySet set) const {
  RequireNonEmpty(set, "Loaded");
  std::lock_guard lock(Mutex);
  for (int i = 0; i < MediaLibraryCount; ++i)
    if (set.Contains(static_cast<TMediaLibrary>(i)) && !IsLoadedLocked(static_cast<TMediaLibrary>(i)))
      return false;
  return true;
}

void* TFFmpegLoader::ModuleHandle(TMediaLibrary lib) const {
  std::lock_guard lock(Mutex);
  return Status[static_cast<int>(lib)].Handle;
}

// Loads the media libraries at run time and binds their entry points into `Lib`.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "FFmpegEntryPoints.h"

// The order is the load order and the bit position in a set. The C-runtime slot of the
// older design holds libswresample, which this library generation needs for audio.
enum class TMediaLibrary : int {
  libAVCodec,
  libAVDevice,
  libAVFilter,
  libAVFormat,
  libAVUtil,
  libSwScale,
  libSwResample,
  libSDL,
};
constexpr int MediaLibraryCount = 8;

class TMediaLibrarySet {
 public:
  constexpr TMediaLibrarySet() = default;
  constexpr TMediaLibrarySet(std::initializer_list<TMediaLibrary> libs) {
    for (auto l : libs) Bits |= Bit(l);
  }
  constexpr bool Contains(TMediaLibrary l) const { return (Bits & Bit(l)) != 0; }
  constexpr bool Empty() const { return Bits == 0; }
  constexpr TMediaLibrarySet& Include(TMediaLibrary l) { Bits |= Bit(l); return *this; }
  constexpr bool operator==(const TMediaLibrarySet&) const = default;

 private:
  static constexpr std::uint32_t Bit(TMediaLibrary l) { return 1u << static_cast<int>(l); }
  std::uint32_t Bits = 0;
};

inline constexpr TMediaLibrarySet ConverterLibraries{
    TMediaLibrary::libAVCodec, TMediaLibrary::libAVFilter, TMediaLibrary::libAVFormat,
    TMediaLibrary::libAVUtil,  TMediaLibrary::libSwScale,  TMediaLibrary::libSwResample};
inline constexpr TMediaLibrarySet PlayerLibraries{
    TMediaLibrary::libAVCodec, TMediaLibrary::libAVFilter,   TMediaLibrary::libAVFormat,
    TMediaLibrary::libAVUtil,  TMediaLibrary::libSwScale,    TMediaLibrary::libSwResample,
    TMediaLibrary::libSDL};

// The one process-wide loader. Loading happens on the main thread; the status queries
// may be asked from any thread.
class TFFmpegLoader {
 public:
  static TFFmpegLoader& Instance();

  void SetLibraryPath(const std::string& folder);
  std::string LibraryPath() const;
  std::string LastErrorMessage() const;
  // "libavcodec.so.59", "libSDL2-2.0.so.0": base + ".so" + "." + version when version >= 0.
  static std::string LibraryFileName(TMediaLibrary lib);

  bool LoadMediaLibrary(TMediaLibrary lib);
  void UnloadMediaLibrary(TMediaLibrary lib);
  // All or nothing. On failure only the members this call itself loaded are unloaded, so a
  // library another component already uses is never pulled from under it.
  bool Load(TMediaLibrarySet set);
  void Unload(TMediaLibrarySet set);
  bool IsLoaded(TMediaLibrary lib) const;
  bool Loaded(TMediaLibrarySet set) const;
  // The module handle of a loaded library (null when not loaded).
  void* ModuleHandle(TMediaLibrary lib) const;

 private:
  TFFmpegLoader() = default;
  struct TLibraryStatus {
    void* Handle = nullptr;
    bool Bound = false;
  };
  bool LoadLocked(TMediaLibrary lib);
  void UnloadLocked(TMediaLibrary lib);
  bool IsLoadedLocked(TMediaLibrary lib) const;
  static void RequireNonEmpty(TMediaLibrarySet set, const char* operation);

  mutable std::recursive_mutex Mutex;
  std::string LibraryFolder;
  std::string LastError;
  TLibraryStatus Status[MediaLibraryCount];
};

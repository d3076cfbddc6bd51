// ondrel-convert: the headless front end of the converter.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/FFmpegLoader.h"
#include "platform/Platform.h"

namespace {

const char* const Usage =
    "Usage: ondrel-convert [OPTION]...\n"
    "Headless front end of Ondrel XviD Converter.\n"
    "\n"
    "  --libraries  load the media libraries and report each one\n"
    "  --version    print the program version and exit\n"
    "  --help       print this help and exit\n"
    "\n"
    "The media libraries are looked for in the folder LibAV beside the program first,\n"
    "then in the system's library folders.\n";

int ReportLibraries() {
  TFFmpegLoader& loader = TFFmpegLoader::Instance();
  loader.SetLibraryPath(Platform().ProgramFolder() + "LibAV");
  const bool ok = loader.Load(PlayerLibraries);
  for (int i = 0; i < MediaLibraryCount; ++i) {
    const auto lib = static_cast<TMediaLibrary>(i);
    if (!PlayerLibraries.Contains(lib)) continue;
    std::printf("%-22s %s\n", TFFmpegLoader::LibraryFileName(lib).c_str(),
                loader.IsLoaded(lib) ? "loaded" : "not loaded");
  }
  if (!ok) {
    std::fprintf(stderr, "ondrel-convert: %s\n", loader.LastErrorMessage().c_str());
    return 1;
  }
  std::printf("FFmpeg %s\n", Lib.av_version_info());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(Usage, stdout);
    return 0;
  }
  const std::string option = argv[1];
  if (argc == 2 && option == "--version") {
    std::string version = GetVersionString();  // " 1.500 ": drop the trailing blank
    while (!version.empty() && version.back() == ' ') version.pop_back();
    std::printf("ondrel-convert%s\n", version.c_str());
    return 0;
  }
  if (argc == 2 && option == "--libraries") return ReportLibraries();
  std::fprintf(stderr, "ondrel-convert: unknown option '%s'\nTry 'ondrel-convert --help'.\n",
               option.c_str());
  return 2;
}

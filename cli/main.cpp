// ondrel-convert: the headless front end of the converter.
#include <QGuiApplication>
#include <clocale>
#include <memory>
#include <cstdio>
#include <string>

#include "CliConvert.h"
#include "CliOptions.h"
#include "app/core/GlobalObject.h"
#include "app/core/SettingsStore.h"
#include "engine/FFmpegLoader.h"
#include "platform/Platform.h"
#include "probe/AVProbe.h"
#include "profiles/model/FormatCatalogue.h"
#include "profiles/model/ProfileStore.h"

namespace {

int ReportLibraries() {
  TFFmpegLoader& loader = TFFmpegLoader::Instance();
  loader.SetLibraryPath(MediaLibraryFolder());
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

int ListFormats() {
  const TFormatStore formats(TGlobalObject().FormatStoreFile());
  std::printf("%4d  %-48s %s\n", DefaultFormatCode, DefaultFormatCaption, formats.FileExt(DefaultFormatCode).c_str());
  for (const int code : CatalogueCodes())
    std::printf("%4d  %-48s %s\n", code, FormatCaptionOf(code).c_str(), formats.FileExt(code).c_str());
  return 0;
}

int PrintInfo(const std::string& file) {
  TFFmpegLoader& loader = TFFmpegLoader::Instance();
  loader.SetLibraryPath(MediaLibraryFolder());
  if (!loader.Load(ConverterLibraries)) {
    std::fprintf(stderr, "ondrel-convert: %s\n", loader.LastErrorMessage().c_str());
    return 1;
  }
  TAVProbe probe;
  if (!probe.LoadFile(file)) {
    std::fprintf(stderr, "ondrel-convert: %s: %s\n", file.c_str(), probe.LastErrorMessage().c_str());
    return 1;
  }
  std::fputs(probe.GetFileInfoText().c_str(), stdout);
  return 0;
}

bool IsKnownFormat(int code) { return code == DefaultFormatCode || !FormatCaptionOf(code).empty(); }

}  // namespace

int main(int argc, char** argv) {
  // Option values and the format store use "." decimals whatever the user's locale.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");

  TCliOptions options;
  std::string error;
  if (argc < 2) {
    std::fputs(CliUsage().c_str(), stdout);
    return 0;
  }
  if (!ParseCliOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "ondrel-convert: %s\nTry 'ondrel-convert --help'.\n", error.c_str());
    return 2;
  }
  switch (options.Command) {
    case TCliCommand::ccHelp:
      std::fputs(CliUsage().c_str(), stdout);
      return 0;
    case TCliCommand::ccVersion: {
      std::string version = GetVersionString();  // " 1.500 ": drop the trailing blank
      while (!version.empty() && version.back() == ' ') version.pop_back();
      std::printf("ondrel-convert%s\n", version.c_str());
      return 0;
    }
    case TCliCommand::ccLibraries: return ReportLibraries();
    case TCliCommand::ccListFormats: return ListFormats();
    case TCliCommand::ccInfo: return PrintInfo(options.Files.front());
    case TCliCommand::ccConvert: break;
  }
  if (options.FormatCode && !IsKnownFormat(*options.FormatCode)) {
    std::fprintf(stderr, "ondrel-convert: unknown format code %d (see --list-formats)\n", *options.FormatCode);
    return 2;
  }
  // Text items are laid out with Qt's fonts and pictures read by its image readers; no window
  // is ever shown, so no display is needed.
  std::unique_ptr<QGuiApplication> gui;
  if (!options.ItemSpecs.empty()) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    gui = std::make_unique<QGuiApplication>(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // Qt takes the user's locale again
    if (!ParseCliItems(options, error)) {
      std::fprintf(stderr, "ondrel-convert: %s\nTry 'ondrel-convert --help'.\n", error.c_str());
      return 2;
    }
  }
  return RunCliConversion(options);
}

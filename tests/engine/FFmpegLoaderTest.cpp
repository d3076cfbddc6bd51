#include "engine/FFmpegLoader.h"

#include <gtest/gtest.h>

#include <fstream>

#include "TempDir.h"
#include "engine/EngineError.h"
#include "engine/FFmpegLogger.h"
#include "engine/UnicodeProtocol.h"

namespace {

TFFmpegLoader& Loader() { return TFFmpegLoader::Instance(); }

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

int UnboundEntries() {
  int count = 0;
#define ONDREL_COUNT_UNBOUND(name) count += Lib.name == nullptr;
  ONDREL_AVCODEC_ENTRIES(ONDREL_COUNT_UNBOUND)
  ONDREL_AVFILTER_ENTRIES(ONDREL_COUNT_UNBOUND)
  ONDREL_AVFORMAT_ENTRIES(ONDREL_COUNT_UNBOUND)
  ONDREL_AVUTIL_ENTRIES(ONDREL_COUNT_UNBOUND)
  ONDREL_SWSCALE_ENTRIES(ONDREL_COUNT_UNBOUND)
  ONDREL_SWRESAMPLE_ENTRIES(ONDREL_COUNT_UNBOUND)
  ONDREL_SDL_ENTRIES(ONDREL_COUNT_UNBOUND)
#undef ONDREL_COUNT_UNBOUND
  return count;
}

}  // namespace

TEST(FFmpegLoader, FileNamesFollowTheLibrariesMajorVersions) {
  const struct {
    TMediaLibrary Library;
    const char* Name;
  } cases[] = {
      {TMediaLibrary::libAVCodec, "libavcodec.so.59"},   {TMediaLibrary::libAVDevice, "libavdevice.so.59"},
      {TMediaLibrary::libAVFilter, "libavfilter.so.8"},  {TMediaLibrary::libAVFormat, "libavformat.so.59"},
      {TMediaLibrary::libAVUtil, "libavutil.so.57"},     {TMediaLibrary::libSwScale, "libswscale.so.6"},
      {TMediaLibrary::libSwResample, "libswresample.so.4"}, {TMediaLibrary::libSDL, "libSDL2-2.0.so.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(TFFmpegLoader::LibraryFileName(c.Library), c.Name);
  }
}

TEST(FFmpegLoader, LoadsThePlayerSetFromTheSystemAndBindsEveryEntry) {
  ASSERT_TRUE(Loader().Load(PlayerLibraries)) << Loader().LastErrorMessage();
  EXPECT_TRUE(Loader().Loaded(PlayerLibraries));
  EXPECT_TRUE(Loader().Loaded(ConverterLibraries));
  EXPECT_FALSE(Loader().IsLoaded(TMediaLibrary::libAVDevice));
  EXPECT_EQ(UnboundEntries(), 0);
  // The bound code is the real library of the headers' generation.
  EXPECT_EQ(Lib.avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
  EXPECT_NE(Lib.avcodec_find_encoder_by_name("mpeg4"), nullptr);
}

TEST(FFmpegLoader, AnEmptyLibraryFolderFallsBackToTheSystemSearch) {
  TTempDir folder;
  Loader().SetLibraryPath(folder.Path());
  EXPECT_TRUE(Loader().Load(ConverterLibraries)) << Loader().LastErrorMessage();
}

TEST(FFmpegLoader, SecondLoadKeepsTheOpenModules) {
  ASSERT_TRUE(Loader().Load(ConverterLibraries));
  void* codec = Loader().ModuleHandle(TMediaLibrary::libAVCodec);
  auto* open = Lib.avcodec_open2;
  ASSERT_TRUE(Loader().Load(ConverterLibraries));
  EXPECT_EQ(Loader().ModuleHandle(TMediaLibrary::libAVCodec), codec);
  EXPECT_EQ(Lib.avcodec_open2, open);
}

TEST(FFmpegLoader, EveryLoadReinstallsTheLogHookAndRegistersTheWideNameIo) {
  ASSERT_TRUE(Loader().Load(ConverterLibraries));
  EXPECT_TRUE(UnicodeProtocolRegistered());
  std::vector<std::string> lines;
  TFFLogger::Instance().SetTriggerEventInMainThread(false);
  TFFLogger::Instance().SetOnLog(
      [&](void*, uint32_t, TLogLevel, const std::string& msg) { lines.push_back(msg); });
  // Someone else takes the libraries' log; the next load takes it back.
  Lib.av_log_set_callback(Lib.av_log_default_callback);
  Lib.av_log(nullptr, AV_LOG_ERROR, "lost\n");
  ASSERT_TRUE(Loader().Load(ConverterLibraries));
  Lib.av_log(nullptr, AV_LOG_ERROR, "caught\n");
  EXPECT_EQ(lines, std::vector<std::string>{"caught"});
  TFFLogger::Instance().SetOnLog(nullptr);
}

TEST(FFmpegLoader, MissingEntryPointNamesItAndLeavesTheSetUnloaded) {
  // The folder holds a scaler library with only its first entry point.
  Loader().SetLibraryPath(ONDREL_FAKELIB_DIR);
  EXPECT_FALSE(Loader().Load(ConverterLibraries));
  EXPECT_TRUE(StartsWith(Loader().LastErrorMessage(), "Load function sws_get_class@libswscale.so.6 error: "))
      << Loader().LastErrorMessage();
  for (auto lib : {TMediaLibrary::libAVCodec, TMediaLibrary::libAVFilter, TMediaLibrary::libAVFormat,
                   TMediaLibrary::libAVUtil, TMediaLibrary::libSwScale, TMediaLibrary::libSwResample})
    EXPECT_FALSE(Loader().IsLoaded(lib));
  EXPECT_EQ(Lib.swscale_version, nullptr);  // the partial binding was undone
  EXPECT_EQ(Lib.avcodec_open2, nullptr);

  // The same folder with the real scaler found by the system search loads again.
  Loader().SetLibraryPath("");
  EXPECT_TRUE(Loader().Load(ConverterLibraries)) << Loader().LastErrorMessage();
}

TEST(FFmpegLoader, UnloadableSdlFailsThePlayerSetButNotTheConverterSetLoadedBefore) {
  ASSERT_TRUE(Loader().Load(ConverterLibraries));
  TTempDir folder;
  std::ofstream(folder.File("libSDL2-2.0.so.0")) << "not a shared object";
  Loader().SetLibraryPath(folder.Path());  // no trailing "/"
  EXPECT_FALSE(Loader().Load(PlayerLibraries));
  EXPECT_TRUE(StartsWith(Loader().LastErrorMessage(),
                         "Load library " + folder.Path() + "/libSDL2-2.0.so.0 error: "))
      << Loader().LastErrorMessage();
  EXPECT_FALSE(Loader().Loaded(PlayerLibraries));
  EXPECT_FALSE(Loader().IsLoaded(TMediaLibrary::libSDL));
  // Another component's libraries stay in place.
  EXPECT_TRUE(Loader().Loaded(ConverterLibraries));
  EXPECT_NE(Lib.avcodec_open2, nullptr);
  // A later success does not clear the last error.
  Loader().SetLibraryPath("");
  EXPECT_TRUE(Loader().Load(PlayerLibraries));
  EXPECT_TRUE(StartsWith(Loader().LastErrorMessage(), "Load library "));
}

TEST(FFmpegLoader, EmptySetIsAProgrammingError) {
  EXPECT_THROW(Loader().Load(TMediaLibrarySet{}), EAssertionFailed);
  EXPECT_THROW(Loader().Loaded(TMediaLibrarySet{}), EAssertionFailed);
  EXPECT_THROW(Loader().Unload(TMediaLibrarySet{}), EAssertionFailed);
}

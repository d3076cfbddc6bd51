#include "engine/UnicodeProtocol.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/FFUtils.h"
#include "engine/FFmpegLoader.h"
#include "engine/FFmpegRAII.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

namespace {

const std::string Prefix = "unicode:utf8:";

// Switches LC_CTYPE for one test and back.
class TCtypeLocale {
 public:
  explicit TCtypeLocale(const char* name) : Saved(std::setlocale(LC_CTYPE, nullptr)) {
    Active = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~TCtypeLocale() { std::setlocale(LC_CTYPE, Saved.c_str()); }
  bool Active;

 private:
  std::string Saved;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ConvertFileNameTest, AsciiLocaleWrapsNamesItCannotHold) {
  TCtypeLocale locale("C");
  ASSERT_TRUE(locale.Active);
  const std::pair<const char*, bool> cases[] = {
      {"/tmp/clip é.avi", true},
      {"/tmp/plain name.avi", false},
      {"relative/ü", true},
      {"http://host/a é", false},
      {"udp://239.0.0.1:1234?name=é", false},
      {"https://host/é", false},
      {"file:/tmp/é.avi", false},
      {"own:é", true},  // not a scheme the libraries open
      {"unicode:utf8:/tmp/é", false},
      {"", false}};
  for (const auto& [name, wrapped] : cases) {
    const std::string converted = ConvertFileName(name);
    EXPECT_EQ(converted, wrapped ? Prefix + name : std::string(name)) << name;
    if (wrapped) {
      EXPECT_EQ(DecodeFileName(converted), name);
    }
  }
}

TEST(ConvertFileNameTest, Utf8LocalePassesEveryName) {
  TCtypeLocale locale("C.UTF-8");
  ASSERT_TRUE(locale.Active);
  for (const char* name : {"/tmp/clip é ü.avi", "/tmp/日本.mkv", "plain"}) EXPECT_EQ(ConvertFileName(name), name);
}

TEST(ConvertFileNameTest, SingleByteLocaleKeepsTheUtf8BytesOfWhatItHolds) {
  TTempDir dir;
  const std::string command =
      "localedef -c -i POSIX -f ISO-8859-1 '" + dir.File("latin1") + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) == -1) GTEST_SKIP() << "localedef cannot run";
  setenv("LOCPATH", dir.Path().c_str(), 1);
  {
    TCtypeLocale locale("latin1");
    if (!locale.Active) {
      unsetenv("LOCPATH");
      GTEST_SKIP() << "cannot build an ISO-8859-1 locale here";
    }
    EXPECT_EQ(ConvertFileName("/tmp/café.avi"), "/tmp/café.avi");  // not re-encoded to Latin-1
    EXPECT_EQ(ConvertFileName("/tmp/5 €.avi"), Prefix + "/tmp/5 €.avi");
  }
  unsetenv("LOCPATH");
}

TEST(DecodeFileNameTest, StripsOnlyTheUnicodePrefix) {
  const std::pair<const char*, const char*> cases[] = {
      {"unicode:utf8:/a é", "/a é"}, {"unicode:utf8:", ""}, {"unicode:utf8", "unicode:utf8"},
      {"/a/unicode:utf8:x", "/a/unicode:utf8:x"}, {"http://h/x", "http://h/x"}};
  for (const auto& [name, decoded] : cases) EXPECT_EQ(DecodeFileName(name), decoded) << name;
  EXPECT_TRUE(IsUnicodeUrl("unicode:utf8:/x"));
  EXPECT_FALSE(IsUnicodeUrl("unicode:/x"));
}

class UnicodeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { RequireConverterLibraries(); }
  TTempDir Dir;
};

TEST_F(UnicodeFileTest, WritesAndReadsBackAClipUnderANonAsciiName) {
  EXPECT_TRUE(UnicodeProtocolRegistered());
  const std::string path = Dir.File("clip é ü.avi");
  ASSERT_EQ(MakeTestMedia(Prefix + path, TTestMediaSpec()), "");
  ASSERT_GT(FileSizeOf(path), 0) << "no file under the UTF-8 name";

  std::unique_ptr<TUnicodeFile> io;
  AVFormatContext* raw = nullptr;
  ASSERT_EQ(OpenInputFile(&raw, io, Prefix + path, nullptr, nullptr), 0);
  TInputFormat input(raw);  // closed before `io`, which it reads through
  ASSERT_TRUE(io);
  EXPECT_EQ(input->pb, io->Context());
  EXPECT_STREQ(input->iformat->name, "avi");
  ASSERT_GE(Lib.avformat_find_stream_info(input.get(), nullptr), 0);
  ASSERT_EQ(input->nb_streams, 2u);
  const AVCodecParameters* video = input->streams[0]->codecpar;
  const AVCodecParameters* audio = input->streams[1]->codecpar;
  EXPECT_EQ(video->codec_id, AV_CODEC_ID_MPEG4);
  EXPECT_EQ(video->width, 160);
  EXPECT_EQ(audio->codec_id, AV_CODEC_ID_MP2);
  EXPECT_EQ(audio->sample_rate, 44100);

  TPacket packet(Lib.av_packet_alloc());
  ASSERT_TRUE(packet);
  int packets = 0, result;
  while ((result = Lib.av_read_frame(input.get(), packet.get())) >= 0) {
    ++packets;
    Lib.av_packet_unref(packet.get());
  }
  EXPECT_EQ(result, AVERROR_EOF);
  EXPECT_GE(packets, 25 + 30);  // one second: 25 pictures and about 38 audio frames
}

TEST_F(UnicodeFileTest, FailedOpensReportTheCauseAndLeaveNothingBehind) {
  const std::string missing = Dir.File("missing é.avi");
  const std::pair<std::string, int> cases[] = {
      {Prefix + missing, AVERROR(ENOENT)}, {missing, AVERROR(ENOENT)}, {Prefix + Dir.Path(), AVERROR(EISDIR)}};
  for (const auto& [name, error] : cases) {
    std::unique_ptr<TUnicodeFile> io;
    AVFormatContext* ctx = nullptr;
    EXPECT_EQ(OpenInputFile(&ctx, io, name, nullptr, nullptr), error) << name;
    EXPECT_EQ(ctx, nullptr);
    EXPECT_FALSE(io);
    // A context the caller allocated is freed on failure, as avformat_open_input does.
    ctx = Lib.avformat_alloc_context();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(OpenInputFile(&ctx, io, name, nullptr, nullptr), error) << name;
    EXPECT_EQ(ctx, nullptr);
  }

  // A file that is there but holds no media: the library's failure, not ours.
  std::ofstream(Dir.File("text é.avi")) << "not a clip";
  std::unique_ptr<TUnicodeFile> io;
  AVFormatContext* ctx = nullptr;
  EXPECT_LT(OpenInputFile(&ctx, io, Prefix + Dir.File("text é.avi"), nullptr, nullptr), 0);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_FALSE(io);

  int error = 0;
  EXPECT_FALSE(TUnicodeFile::Open(Prefix + Dir.File("no folder/x"), AVIO_FLAG_WRITE, &error));
  EXPECT_EQ(error, AVERROR(ENOENT));
  EXPECT_FALSE(TUnicodeFile::Open("unicode:" + missing, AVIO_FLAG_READ, &error));
  EXPECT_EQ(error, AVERROR(EINVAL)) << "a name without the encoding part";
  EXPECT_FALSE(TUnicodeFile::Open(Prefix + missing, 0, &error));
  EXPECT_EQ(error, AVERROR(EINVAL)) << "neither read nor write";
}

TEST_F(UnicodeFileTest, SeekAndReadCallbacks) {
  const std::string path = Dir.File("data é.bin");
  std::string content(100000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  std::ofstream(path, std::ios::binary) << content;

  int error = 1;
  auto file = TUnicodeFile::Open(Prefix + path, AVIO_FLAG_READ, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(error, 0);
  AVIOContext* io = file->Context();
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->seek(io->opaque, 0, AVSEEK_SIZE), 100000);
  EXPECT_EQ(Lib.avio_size(io), 100000);

  // Through the buffered reader first, across the 32 KiB buffer's refills; the direct
  // callback calls below move the file position behind the reader's back.
  ASSERT_EQ(Lib.avio_seek(io, 1000, SEEK_SET), 1000);
  std::vector<unsigned char> data(70000);
  ASSERT_EQ(Lib.avio_read(io, data.data(), static_cast<int>(data.size())), 70000);
  EXPECT_EQ(std::string(data.begin(), data.end()), content.substr(1000, 70000));
  EXPECT_EQ(io->write_packet, nullptr) << "a reader must not write";

  // The callbacks themselves.
  EXPECT_EQ(io->seek(io->opaque, 99990, SEEK_SET | AVSEEK_FORCE), 99990);
  uint8_t buffer[64];
  ASSERT_EQ(io->read_packet(io->opaque, buffer, sizeof buffer), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), content.substr(99990));
  EXPECT_EQ(io->read_packet(io->opaque, buffer, sizeof buffer), AVERROR_EOF);
  EXPECT_EQ(io->seek(io->opaque, -5, SEEK_END), 99995);
  EXPECT_EQ(io->seek(io->opaque, -10, SEEK_CUR), 99985);
  EXPECT_EQ(io->seek(io->opaque, -1, SEEK_SET), AVERROR(EINVAL));
  EXPECT_EQ(io->seek(io->opaque, 0, 3 /* SEEK_DATA */), AVERROR(EINVAL));
}

TEST_F(UnicodeFileTest, WriterTruncatesAndFlushesOnDestruction) {
  const std::string path = Dir.File("out é.txt");
  std::ofstream(path) << "old content that is longer";
  int error = 0;
  auto file = TUnicodeFile::Open(Prefix + path, AVIO_FLAG_WRITE, &error);
  ASSERT_TRUE(file) << error;
  const std::string text = "new";
  Lib.avio_write(file->Context(), reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  EXPECT_EQ(ReadAll(path), "") << "still in the buffer, and the old content is gone";
  file.reset();
  EXPECT_EQ(ReadAll(path), "new");

  // Read-write creates a missing file.
  const std::string created = Dir.File("rw é.bin");
  file = TUnicodeFile::Open(Prefix + created, AVIO_FLAG_READ_WRITE, &error);
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(FileSizeOf(created), 0);
}

TEST_F(UnicodeFileTest, OutputFileOpensPlainAndUnicodeNames) {
  for (const std::string& name : {Prefix + Dir.File("out é.nut"), Dir.File("plain é.nut")}) {
    AVFormatContext* raw = nullptr;
    ASSERT_GE(Lib.avformat_alloc_output_context2(&raw, nullptr, "nut", nullptr), 0);
    TOutputFormat output(raw);
    std::unique_ptr<TUnicodeFile> io;
    ASSERT_EQ(OpenOutputFile(output.get(), io, name, nullptr), 0) << name;
    ASSERT_NE(output->pb, nullptr);
    EXPECT_EQ(static_cast<bool>(io), IsUnicodeUrl(name));
    const unsigned char byte = 'x';
    Lib.avio_write(output->pb, &byte, 1);
    if (io) output->pb = nullptr;  // `io` closes its own file
    output.reset();
    io.reset();
    EXPECT_EQ(ReadAll(DecodeFileName(name)), "x") << name;
  }

  // A format that writes no file gets none.
  AVFormatContext* raw = nullptr;
  ASSERT_GE(Lib.avformat_alloc_output_context2(&raw, nullptr, "null", nullptr), 0);
  TOutputFormat output(raw);
  std::unique_ptr<TUnicodeFile> io;
  EXPECT_EQ(OpenOutputFile(output.get(), io, Prefix + Dir.File("none"), nullptr), 0);
  EXPECT_EQ(output->pb, nullptr);
  EXPECT_FALSE(io);
  EXPECT_EQ(FileSizeOf(Dir.File("none")), -1);
}

}  // namespace

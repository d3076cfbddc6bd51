#include "engine/FFmpegLogger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/EngineError.h"
#include "engine/FFUtils.h"
#include "engine/FFmpegLoader.h"
#include "engine/MainThreadDispatcher.h"

namespace {

struct TLine {
  void* Sender;
  uint32_t ThreadId;
  TLogLevel Level;
  std::string Text;
  std::thread::id RanOn;
};

// Collects what the logger delivers; the handler may run on any thread.
class TCollector {
 public:
  TFFLogger::TLogHandler Handler() {
    return [this](void* sender, uint32_t threadId, TLogLevel level, const std::string& msg) {
      std::lock_guard lock(Mutex);
      Lines.push_back({sender, threadId, level, msg, std::this_thread::get_id()});
    };
  }
  std::vector<TLine> Take() {
    std::lock_guard lock(Mutex);
    return std::exchange(Lines, {});
  }
  size_t Count() {
    std::lock_guard lock(Mutex);
    return Lines.size();
  }

 private:
  std::mutex Mutex;
  std::vector<TLine> Lines;
};

// A thread that runs the calls it is given, one at a time, and stays alive in between, so
// its partial lines stay its own.
class TWorker {
 public:
  TWorker() : Thread([this] { Loop(); }) {}
  ~TWorker() {
    Post(nullptr);
    Thread.join();
  }
  void Run(const std::function<void()>& fn) {
    bool done = false;
    Post([&] {
      fn();
      std::lock_guard lock(Mutex);
      done = true;
      Changed.notify_all();
    });
    std::unique_lock lock(Mutex);
    Changed.wait(lock, [&] { return done; });
  }
  uint32_t Tid() {
    uint32_t tid = 0;
    Run([&] { tid = static_cast<uint32_t>(gettid()); });
    return tid;
  }

 private:
  void Post(std::function<void()> fn) {
    std::lock_guard lock(Mutex);
    Jobs.push_back(std::move(fn));
    Changed.notify_all();
  }
  void Loop() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(Mutex);
        Changed.wait(lock, [&] { return !Jobs.empty(); });
        job = std::move(Jobs.front());
        Jobs.pop_front();
      }
      if (!job) return;
      job();
    }
  }
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::function<void()>> Jobs;
  std::thread Thread;
};

// A context object as the libraries see one: its first member points to its class.
const char* ProbeName(void*) { return "probe"; }
AVClass MakeProbeClass() {
  AVClass probe{};
  probe.class_name = "Probe";
  probe.item_name = ProbeName;
  probe.version = LIBAVUTIL_VERSION_INT;
  return probe;
}
const AVClass ProbeClass = MakeProbeClass();
struct TProbeContext {
  const AVClass* Class = &ProbeClass;
};

uint32_t ThisTid() { return static_cast<uint32_t>(gettid()); }

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFmpegLoader::Instance().Load(ConverterLibraries)) << TFFmpegLoader::Instance().LastErrorMessage();
    Log.SetTriggerEventInMainThread(false);
    Log.SetOnLog(Lines.Handler());
  }
  void TearDown() override {
    Log.SetOnLog(nullptr);
    Log.SetTriggerEventInMainThread(true);
    Log.SetLogLevel(llInfo);
    SetMainThreadDispatcher(nullptr);
  }
  TFFLogger& Log = TFFLogger::Instance();
  TCollector Lines;
};

TEST(LoggerLevelTest, MapsLibraryLevelsBothWays) {
  const std::pair<int, TLogLevel> cases[] = {
      {-100, llQuiet}, {-8, llQuiet},    {-1, llPanic},    {0, llPanic},     {7, llPanic},
      {8, llFatal},    {16, llError},    {24, llWarning},  {32, llInfo},     {40, llVerbose},
      {47, llVerbose}, {48, llDebug},    {56, llDebug},    {1000, llDebug}};
  for (const auto& [libraryLevel, level] : cases)
    EXPECT_EQ(LogLevelFromLibrary(libraryLevel), level) << libraryLevel;
  for (int n = llQuiet; n <= llDebug; ++n)
    EXPECT_EQ(LibraryLevelFromLogLevel(static_cast<TLogLevel>(n)), (n - 1) * 8) << n;
}

TEST_F(LoggerTest, StartsAtTheLibrariesLevel) { EXPECT_EQ(Log.LogLevel(), llInfo); }

TEST_F(LoggerTest, AssemblesPiecesIntoOneLineWithTheFirstPiecesPrefix) {
  TProbeContext probe, other;
  Lib.av_log(&probe, AV_LOG_INFO, "abc");
  EXPECT_EQ(Lines.Count(), 0u);
  Lib.av_log(&other, AV_LOG_INFO, "%s\n", "def");
  auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text, Format("[probe @ %p] abcdef", static_cast<void*>(&probe)));
  EXPECT_EQ(lines[0].Sender, &Log);
  EXPECT_EQ(lines[0].ThreadId, ThisTid());
  EXPECT_EQ(lines[0].Level, llInfo);

  // Several lines in one piece; the unfinished rest waits, and no context means no prefix.
  Lib.av_log(nullptr, AV_LOG_INFO, "one\ntwo\nthr");
  Lib.av_log(nullptr, AV_LOG_INFO, "ee\n");
  lines = Lines.Take();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Text, "one");
  EXPECT_EQ(lines[1].Text, "two");
  EXPECT_EQ(lines[2].Text, "three");
}

TEST_F(LoggerTest, RealLibraryContextGetsItsClassPrefix) {
  AVFormatContext* format = Lib.avformat_alloc_context();
  ASSERT_NE(format, nullptr);
  Lib.av_log(format, AV_LOG_ERROR, "bad\n");
  const auto lines = Lines.Take();
  Lib.avformat_free_context(format);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text.rfind("[", 0), 0u);
  EXPECT_NE(lines[0].Text.find(Format(" @ %p] bad", static_cast<void*>(format))), std::string::npos)
      << lines[0].Text;
  EXPECT_EQ(lines[0].Level, llError);
}

TEST_F(LoggerTest, KeepsEachThreadsPartialLineApart) {
  TWorker a, b;
  const uint32_t tidA = a.Tid(), tidB = b.Tid();
  a.Run([] { Lib.av_log(nullptr, AV_LOG_INFO, "a1 "); });
  b.Run([] { Lib.av_log(nullptr, AV_LOG_INFO, "b1 "); });
  EXPECT_EQ(Lines.Count(), 0u);
  a.Run([] { Lib.av_log(nullptr, AV_LOG_INFO, "a2\n"); });
  auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text, "a1 a2");
  EXPECT_EQ(lines[0].ThreadId, tidA);
  b.Run([] { Lib.av_log(nullptr, AV_LOG_INFO, "b2\n"); });
  lines = Lines.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text, "b1 b2");
  EXPECT_EQ(lines[0].ThreadId, tidB);
}

TEST_F(LoggerTest, FiltersLibraryMessagesByLevel) {
  Log.SetLogLevel(llWarning);
  EXPECT_EQ(Lib.av_log_get_level(), AV_LOG_WARNING);
  Lib.av_log(nullptr, AV_LOG_INFO, "dropped, and not kept as pending text ");
  Lib.av_log(nullptr, AV_LOG_WARNING, "warn\n");
  Lib.av_log(nullptr, AV_LOG_ERROR, "error\n");
  Lib.av_log(nullptr, AV_LOG_DEBUG, "debug\n");
  const auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].Text, "warn");
  EXPECT_EQ(lines[0].Level, llWarning);
  EXPECT_EQ(lines[1].Text, "error");
  EXPECT_EQ(lines[1].Level, llError);

  Log.SetLogLevel(llQuiet);
  Lib.av_log(nullptr, AV_LOG_PANIC, "panic\n");
  EXPECT_EQ(Lines.Count(), 0u);
}

TEST_F(LoggerTest, FiltersComponentMessagesByLevel) {
  struct TCase {
    TLogLevel Limit, Level;
    bool Delivered;
  };
  const TCase cases[] = {
      {llError, llError, true},     {llError, llWarning, false}, {llError, llVerbose, true},
      {llQuiet, llVerbose, false},  {llQuiet, llQuiet, true},    {llQuiet, llPanic, false},
      {llInfo, llDebug, false},     {llDebug, llDebug, true},    {llWarning, llPanic, true}};
  int sender = 0;
  for (const TCase& c : cases) {
    Log.SetLogLevel(c.Limit);
    Log.Log(&sender, c.Level, "m");
    EXPECT_EQ(Lines.Take().size(), c.Delivered ? 1u : 0u) << "limit " << c.Limit << ", level " << c.Level;
  }
  Log.SetLogLevel(llInfo);
  Log.LogFmt(&sender, llWarning, "%s=%d", "x", 5);
  const auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text, "x=5");
  EXPECT_EQ(lines[0].Sender, &sender);
  EXPECT_EQ(lines[0].ThreadId, ThisTid());
  EXPECT_EQ(lines[0].Level, llWarning);
}

TEST_F(LoggerTest, SetsLevelFromText) {
  const std::pair<const char*, TLogLevel> cases[] = {
      {"Verbose", llVerbose}, {"40", llVerbose}, {"QUIET", llQuiet}, {"panic", llPanic},
      {"fatal", llFatal},     {"error", llError}, {"Warning", llWarning}, {"info", llInfo},
      {"debug", llDebug},     {"-8", llQuiet},   {"+16", llError},   {"56", llDebug}};
  for (const auto& [text, level] : cases) {
    Log.SetLevelFromText(text);
    EXPECT_EQ(Log.LogLevel(), level) << text;
    EXPECT_EQ(Lib.av_log_get_level(), LibraryLevelFromLogLevel(level)) << text;
  }
  for (const char* bad : {"x", "", "4x", "verbose2", "99999999999"}) {
    try {
      Log.SetLevelFromText(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EFFmpegError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
    }
    EXPECT_EQ(Log.LogLevel(), llDebug) << "a refused text must not change the level";
  }
}

TEST_F(LoggerTest, DeliversOnTheMainThreadThroughTheDispatcher) {
  TQueueDispatcher dispatcher;
  SetMainThreadDispatcher(&dispatcher);
  Log.SetTriggerEventInMainThread(true);
  TWorker worker;
  const uint32_t workerTid = worker.Tid();
  std::thread poster([&] {
    worker.Run([&] {
      Lib.av_log(nullptr, AV_LOG_ERROR, "from library\n");
      Log.Log(nullptr, llError, "from component");
    });
  });
  ASSERT_TRUE(WaitPumping([&] { return Lines.Count() == 2; }, std::chrono::seconds(10)));
  poster.join();
  for (const TLine& line : Lines.Take()) {
    EXPECT_EQ(line.RanOn, std::this_thread::get_id()) << line.Text;
    EXPECT_EQ(line.ThreadId, workerTid) << line.Text;
  }

  // Without the flag the handler runs where the message arises.
  Log.SetTriggerEventInMainThread(false);
  std::thread::id workerId;
  worker.Run([&] {
    workerId = std::this_thread::get_id();
    Lib.av_log(nullptr, AV_LOG_ERROR, "direct\n");
  });
  const auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].RanOn, workerId);
}

TEST_F(LoggerTest, HandlerExceptionsStayOutOfTheLibrariesButReachComponentCallers) {
  Log.SetOnLog([&](void* sender, uint32_t tid, TLogLevel level, const std::string& msg) {
    if (msg == "one") throw std::runtime_error("handler failed");
    Lines.Handler()(sender, tid, level, msg);
  });
  Lib.av_log(nullptr, AV_LOG_ERROR, "one\ntwo\n");
  const auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text, "two");
  EXPECT_THROW(Log.Log(nullptr, llError, "one"), std::runtime_error);
}

TEST_F(LoggerTest, HandlerMayLogAgain) {
  Log.SetOnLog([&](void* sender, uint32_t tid, TLogLevel level, const std::string& msg) {
    Lines.Handler()(sender, tid, level, msg);
    if (msg == "outer") {
      Lib.av_log(nullptr, AV_LOG_ERROR, "inner\n");
      Log.Log(nullptr, llError, "component");
    }
  });
  Lib.av_log(nullptr, AV_LOG_ERROR, "outer\n");
  const auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].Text, "inner");
  EXPECT_EQ(lines[2].Text, "component");
}

TEST_F(LoggerTest, WithoutHandlerLinesAreDropped) {
  Log.SetOnLog(nullptr);
  Lib.av_log(nullptr, AV_LOG_ERROR, "lost\n");
  Lib.av_log(nullptr, AV_LOG_ERROR, "half");
  Log.SetOnLog(Lines.Handler());
  Lib.av_log(nullptr, AV_LOG_ERROR, " done\n");
  const auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text, "half done");
}

// For ThreadSanitizer: library threads log while the main thread changes level and handler.
TEST_F(LoggerTest, StaysConsistentUnderConcurrentUse) {
  constexpr int PerThread = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < PerThread; ++i) {
        Lib.av_log(nullptr, AV_LOG_ERROR, "t%d ", t);
        Lib.av_log(nullptr, AV_LOG_ERROR, "line %d\n", i);
      }
    });
  for (int i = 0; i < 200; ++i) {
    Log.SetLogLevel(i % 2 ? llError : llDebug);
    Log.SetOnLog(Lines.Handler());
  }
  for (auto& thread : threads) thread.join();
  const auto lines = Lines.Take();
  ASSERT_EQ(lines.size(), 2u * PerThread);
  int next[2] = {0, 0};
  for (const TLine& line : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.Text.c_str(), "t%d line %d", &t, &i), 2) << line.Text;
    ASSERT_TRUE(t == 0 || t == 1);
    EXPECT_EQ(i, next[t]++) << "thread " << t;
  }
}

TEST(LoggerInstanceTest, SecondInstanceIsRefused) {
  ASSERT_TRUE(TFFmpegLoader::Instance().Load(ConverterLibraries)) << TFFmpegLoader::Instance().LastErrorMessage();
  TFFLogger& first = TFFLogger::Instance();
  try {
    TFFLogger second;
    FAIL() << "a second logger was created";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
  EXPECT_EQ(&TFFLogger::Instance(), &first);
}

TEST(LoggerInstanceTest, HostConstructedLoggerIsTheInstanceUntilDestroyed) {
  auto host = std::make_unique<TFFLogger>();
  EXPECT_EQ(&TFFLogger::Instance(), host.get());
  ASSERT_TRUE(TFFmpegLoader::Instance().Load(ConverterLibraries)) << TFFmpegLoader::Instance().LastErrorMessage();
  TCollector lines;
  host->SetTriggerEventInMainThread(false);
  host->SetOnLog(lines.Handler());
  Lib.av_log(nullptr, AV_LOG_ERROR, "to host\n");
  EXPECT_EQ(lines.Count(), 1u);

  host.reset();
  Lib.av_log(nullptr, AV_LOG_ERROR, "after the host's logger is gone\n");
  TFFLogger& next = TFFLogger::Instance();
  next.InstallLibraryHook();
  next.SetTriggerEventInMainThread(false);
  next.SetOnLog(lines.Handler());
  Lib.av_log(nullptr, AV_LOG_ERROR, "to the next\n");
  const auto taken = lines.Take();
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[1].Text, "to the next");
  EXPECT_EQ(taken[1].Sender, &next);
}

}  // namespace

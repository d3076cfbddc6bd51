// Real runs of generated clips through the converter, the run and the progress window, with
// a recording main window, a fake platform and a plain dispatcher pumped by the Qt loop.
#include "conversion/progress/ConversionEvents.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "TestMedia.h"
#include "app/core/FakeDialogSeam.h"
#include "app/core/GlobalObject.h"
#include "conversion/progress/FormProgress.h"
#include "engine/MainThreadDispatcher.h"
#include "platform/FakePlatform.h"
#include "probe/AVProbe.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "progress_tests";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return std::make_unique<QApplication>(argc, argv);
  }();
  return *app;
}

class TRecordingHost : public TProgressHost {
 public:
  std::vector<std::pair<int, std::string>> RowTexts;
  std::vector<bool> PausedCalls;
  int RunsFinished = 0;
  std::function<void()> OnRowProgress;  // the test's look at the window at each report

  void SetRowProgress(int row, const std::string& text) override {
    RowTexts.emplace_back(row, text);
    if (OnRowProgress) OnRowProgress();
  }
  void SetPaused(bool paused) override { PausedCalls.push_back(paused); }
  void RunFinished() override { ++RunsFinished; }

  std::vector<std::string> TextsOf(int row) const {
    std::vector<std::string> texts;
    for (const auto& [r, text] : RowTexts)
      if (r == row) texts.push_back(text);
    return texts;
  }
};

// Installs a plain dispatcher whose queue the Qt loop works off, as the Qt dispatcher's
// queued calls would be.
class TPumpedDispatcher {
 public:
  TPumpedDispatcher() : FPrevious(GetMainThreadDispatcher()) {
    SetMainThreadDispatcher(&FDispatcher);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { FDispatcher.pump(); });
    FTimer.start(1);
  }
  ~TPumpedDispatcher() { SetMainThreadDispatcher(FPrevious); }

 private:
  TQueueDispatcher FDispatcher;
  MainThreadDispatcher* FPrevious;
  QTimer FTimer;
};

std::string PlatformFolders(TFakePlatform& fake) {
  // The shipped format store lies beside the test programs.
  fake.ProgramFolderResult = fake.TLinuxPlatform::ProgramFolder();
  return LocateFormatStore();
}

class TConversionEventsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { App(); }

  void SetUp() override {
    RequireConverterLibraries();
    ASSERT_TRUE(Fake.ForceDirectories(Fake.DataFolderResult));
    ASSERT_TRUE(Fake.ForceDirectories(OutputFolder));
    ASSERT_TRUE(Settings.SetOutPutDir(OutputFolder));
  }

  // Generated clips of `seconds` each and their job records, all ticked.
  std::vector<TRunJob> Jobs(const std::vector<double>& seconds) {
    std::vector<TRunJob> rows;
    for (size_t i = 0; i < seconds.size(); ++i) {
      TTestMediaSpec spec;
      spec.Duration = seconds[i];
      const std::string path = Root.File("clip" + std::to_string(i) + ".avi");
      EXPECT_EQ(MakeTestMedia(path, spec), "");
      auto job = std::make_unique<TlvFilesRecord>();
      job->SourcePath = path;
      job->DurationSeconds = static_cast<int32_t>(seconds[i]);
      rows.push_back({job.get(), true});
      Records.push_back(std::move(job));
    }
    return rows;
  }

  TTempDir Root;
  TFakePlatform Fake{Root.Path()};
  TPlatformOverride PlatformScope{Fake};
  TFakeDialogSeam Seam;
  TDialogSeamOverride SeamScope{Seam};
  TPumpedDispatcher Dispatcher;
  const std::string OutputFolder = Root.File("out");
  TSettingsStore Settings{Fake.DataFolderResult + SettingsFileName};
  TFormatStore Formats{PlatformFolders(Fake)};
  TFFConverter Converter;
  TRecordingHost Host;
  std::vector<std::unique_ptr<TlvFilesRecord>> Records;
  TConversionEvents Events{Converter, Host, Settings, nullptr};
};

// Runs `act` once the progress window's modal loop turns: the run has just started.
void WhenShown(std::function<void()> act) { QTimer::singleShot(0, std::move(act)); }

// Percentages a row showed, each "<n>%", never going back.
void ExpectRisingPercentages(const std::vector<std::string>& texts) {
  int previous = -1;
  for (const std::string& text : texts) {
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), '%') << text;
    const int percent = std::stoi(text);
    EXPECT_GE(percent, previous) << text;
    EXPECT_LE(percent, 100) << text;
    previous = percent;
  }
}

void ExpectValidTwoSecondClip(const std::string& path) {
  SCOPED_TRACE(path);
  const TDecodedCounts decoded = DecodeAll(path);
  EXPECT_EQ(decoded.Errors, 0);
  EXPECT_GT(decoded.VideoFrames, 40);
  EXPECT_GT(decoded.AudioFrames, 0);
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrorMessage();
  TFileStreamInfo info;
  ASSERT_TRUE(probe.GetFileStreamInfo(info));
  EXPECT_NEAR(static_cast<double>(info.Duration), 2'000'000.0, 250'000.0);
}

TEST_F(TConversionEventsTest, TwoJobsRunInTurnAndTheCompletionOptionsFollowTheBoxes) {
  const std::vector<TRunJob> rows = Jobs({2, 2});
  Events.Attach();
  int captures = 0;
  QSize fullSize, shownSize;
  Events.SetSnapshotHandler([&](const TBitmap24& full, const QImage& shown) {
    ++captures;
    fullSize = QSize(full.Width, full.Height);
    shownSize = shown.size();
  });
  // The number label at every report, without repeats.
  std::vector<std::string> numbers;
  Host.OnRowProgress = [&] {
    const std::string number = Events.ProgressForm()->lblProgress->text().toStdString();
    if (numbers.empty() || numbers.back() != number) numbers.push_back(number);
  };

  // First run: the folder box unticked, the shutdown box ticked.
  {
    TConversionRun run(Converter, Settings, Formats);
    ASSERT_EQ(run.Prepare(rows), 2);
    WhenShown([this] {
      TfrmProgress& form = *Events.ProgressForm();
      EXPECT_TRUE(form.ckOpen->isChecked());
      EXPECT_FALSE(form.ckShutDown->isChecked());
      EXPECT_TRUE(form.btnPause->isEnabled());
      EXPECT_FALSE(form.btnResume->isEnabled());
      form.ckOpen->setChecked(false);
      form.ckShutDown->setChecked(true);
    });
    Events.Execute(run);

    EXPECT_EQ(numbers, (std::vector<std::string>{"[1/2]", "[2/2]"}));
    for (int row : {0, 1}) {
      SCOPED_TRACE(row);
      const std::vector<std::string> texts = Host.TextsOf(row);
      ASSERT_FALSE(texts.empty());
      EXPECT_EQ(texts.back(), "100%");
      ExpectRisingPercentages(texts);
      ExpectValidTwoSecondClip(run.OutputFileOfTask(row));
    }
    EXPECT_TRUE(Fake.OpenedFolders.empty());
    EXPECT_EQ(Fake.ShutdownCalls, std::vector<bool>{false});
    EXPECT_EQ(Host.RunsFinished, 1);
    EXPECT_EQ(Converter.TasksCount(), 0);
    ASSERT_NE(Events.ProgressForm(), nullptr);
    EXPECT_FALSE(Events.ProgressForm()->isVisible());
    EXPECT_EQ(Events.ProgressForm()->progbarFile->value(), 100);
    EXPECT_TRUE(Seam.Records().empty());

    // The live picture shows the last encoded frame, not the empty background.
    EXPECT_FALSE(Events.ConversionPreviewBitmap().Empty());
    const QImage shown = Events.ProgressForm()->PreviewPicture();
    EXPECT_NE(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(166, 202, 240));
    // The snapshot button hands both pictures to the capture.
    ASSERT_TRUE(Events.ProgressForm()->imgbtnSnap->isEnabled());
    Events.ProgressForm()->imgbtnSnap->click();
    EXPECT_EQ(captures, 1);
    EXPECT_EQ(fullSize, QSize(Events.ConversionPreviewBitmap().Width, Events.ConversionPreviewBitmap().Height));
    EXPECT_EQ(shownSize, QSize(372, 210));
  }

  // Second run on the same window: the folder box is ticked again, the shutdown box kept.
  Host.RowTexts.clear();
  numbers.clear();
  {
    TConversionRun run(Converter, Settings, Formats);
    ASSERT_EQ(run.Prepare(rows), 2);
    WhenShown([this] {
      TfrmProgress& form = *Events.ProgressForm();
      EXPECT_TRUE(form.ckOpen->isChecked());
      EXPECT_TRUE(form.ckShutDown->isChecked());
    });
    Events.Execute(run);
    EXPECT_EQ(numbers, (std::vector<std::string>{"[1/2]", "[2/2]"}));
    EXPECT_EQ(Host.TextsOf(0).back(), "100%");
    EXPECT_EQ(Host.TextsOf(1).back(), "100%");
    EXPECT_EQ(Fake.OpenedFolders, std::vector<std::string>{OutputFolder});
    EXPECT_EQ(Fake.ShutdownCalls, (std::vector<bool>{false, false}));
    EXPECT_EQ(Host.RunsFinished, 2);
  }
}

TEST_F(TConversionEventsTest, CancelDuringTheFirstOfThreeJobsEndsTheRunWithoutCompletion) {
  const std::vector<TRunJob> rows = Jobs({4, 2, 2});
  Events.Attach();
  TConversionRun run(Converter, Settings, Formats);
  ASSERT_EQ(run.Prepare(rows), 3);

  bool resumeOfferedWhilePaused = false;
  WhenShown([&] {
    TfrmProgress& form = *Events.ProgressForm();
    EXPECT_FALSE(form.imgbtnSnap->isEnabled());  // no capture installed
    form.ckShutDown->setChecked(true);
    // A paused job must still stop.
    form.btnPause->click();
    resumeOfferedWhilePaused = form.btnResume->isEnabled() && !form.btnPause->isEnabled();
    form.btnCancel->click();
  });
  Events.Execute(run);

  EXPECT_TRUE(resumeOfferedWhilePaused);
  EXPECT_EQ(Host.PausedCalls, std::vector<bool>{true});
  for (const auto& [row, text] : Host.RowTexts) EXPECT_NE(text, "100%") << "row " << row;
  EXPECT_TRUE(Fake.OpenedFolders.empty());
  EXPECT_TRUE(Fake.ShutdownCalls.empty());
  EXPECT_EQ(Host.RunsFinished, 1);
  EXPECT_EQ(Converter.TasksCount(), 0);
  EXPECT_FALSE(Events.ProgressForm()->isVisible());
  EXPECT_TRUE(Seam.Records().empty());
}

TEST_F(TConversionEventsTest, CancelDuringTheSecondOfThreeJobsKeepsOnlyTheFirstFinished) {
  const std::vector<TRunJob> rows = Jobs({2, 4, 2});
  Events.Attach();
  TConversionRun run(Converter, Settings, Formats);
  ASSERT_EQ(run.Prepare(rows), 3);
  WhenShown([&] { Events.ProgressForm()->ckShutDown->setChecked(true); });
  // Cancel as a click would come: once the first job has finished, from the event loop.
  Host.OnRowProgress = [&] {
    if (Host.RowTexts.back() == std::pair<int, std::string>{0, "100%"})
      QTimer::singleShot(0, [&] { Events.ProgressForm()->btnCancel->click(); });
  };
  Events.Execute(run);

  EXPECT_EQ(Host.TextsOf(0).back(), "100%");
  for (int row : {1, 2})
    for (const std::string& text : Host.TextsOf(row)) EXPECT_NE(text, "100%") << "row " << row;
  EXPECT_TRUE(Fake.OpenedFolders.empty());
  EXPECT_TRUE(Fake.ShutdownCalls.empty());
  EXPECT_EQ(Host.RunsFinished, 1);
  EXPECT_EQ(Converter.TasksCount(), 0);
  EXPECT_FALSE(Events.ProgressForm()->isVisible());
}

}  // namespace

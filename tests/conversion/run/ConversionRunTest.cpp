#include "conversion/run/ConversionRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "TestMedia.h"
#include "app/core/FakeDialogSeam.h"
#include "app/core/GlobalObject.h"

namespace {

TWmRec Item(const std::string& text, const std::string& image = "") {
  TWmRec item;
  item.Text = text;
  item.ImagePath = image;
  return item;
}

TEST(JobRecordTest, TheHookIsAskedForByAdjustmentsOrAFirstItem) {
  const auto job = [](auto change) {
    TlvFilesRecord r;
    change(r);
    return r.NeedsCustomHook();
  };
  EXPECT_FALSE(job([](TlvFilesRecord&) {}));
  EXPECT_TRUE(job([](TlvFilesRecord& r) { r.Brightness = 256; }));
  EXPECT_TRUE(job([](TlvFilesRecord& r) { r.Contrast = -1; }));
  EXPECT_TRUE(job([](TlvFilesRecord& r) { r.Saturation = 0; }));
  EXPECT_TRUE(job([](TlvFilesRecord& r) { r.Exposure = 5; }));
  EXPECT_TRUE(job([](TlvFilesRecord& r) { r.Watermarks.push_back(Item("hi")); }));
  EXPECT_TRUE(job([](TlvFilesRecord& r) { r.Watermarks.push_back(Item("", "/x.bmp")); }));
  // Only the first item counts.
  EXPECT_FALSE(job([](TlvFilesRecord& r) {
    r.Watermarks.push_back(TWmRec{});
    r.Watermarks.push_back(Item("later"));
  }));
}

TEST(PrioritySettingTest, MapsToThreadPriorities) {
  const struct {
    int Setting;
    bool Known;
    TTaskPriority Priority;
  } cases[] = {{0, true, TTaskPriority::tpIdle},
               {1, true, TTaskPriority::tpNormal},
               {2, true, TTaskPriority::tpLower},
               {3, true, TTaskPriority::tpLowest},
               {7, false, TTaskPriority::tpHighest},
               {-1, false, TTaskPriority::tpHighest}};
  for (const auto& c : cases) {
    TTaskPriority p = TTaskPriority::tpHighest;
    EXPECT_EQ(PriorityFromSetting(c.Setting, p), c.Known) << c.Setting;
    EXPECT_EQ(p, c.Priority) << c.Setting;
  }
}

class ConversionRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RequireConverterLibraries();
    Settings.Ini().WriteString(SettingsSection, SettingKey::OutPutDir, Folder.File("out"));
    std::filesystem::create_directories(Folder.File("out"));
  }
  std::string Clip(const std::string& name) {
    std::filesystem::create_directories(std::filesystem::path(Folder.File(name)).parent_path());
    TTestMediaSpec spec;
    spec.Duration = 0.3;
    EXPECT_EQ(MakeTestMedia(Folder.File(name), spec), "");
    return Folder.File(name);
  }
  TlvFilesRecord& Job(const std::string& path) {
    Jobs.push_back(std::make_unique<TlvFilesRecord>());
    Jobs.back()->SourcePath = path;
    return *Jobs.back();
  }

  TTempDir Folder;
  TFakeDialogSeam Seam;
  TDialogSeamOverride SeamScope{Seam};
  TSettingsStore Settings{Folder.File("settings.ini")};
  TFormatStore Formats{LocateFormatStore()};
  TFFConverter Converter;
  TConversionRun Run{Converter, Settings, Formats};
  std::vector<std::unique_ptr<TlvFilesRecord>> Jobs;
};

TEST_F(ConversionRunTest, TicksPickTheJobsAndTheirRows) {
  Settings.SetPriority(3);
  TlvFilesRecord& first = Job(Clip("a/clip.avi"));
  TlvFilesRecord& skipped = Job(Clip("b/clip.avi"));
  TlvFilesRecord& third = Job(Clip("c/clip.avi"));
  first.ZoomMode = "full";  // replaced by the format's stored mode, lbox when none is stored
  ASSERT_EQ(Run.Prepare({{&first, true}, {&skipped, false}, {&third, true}}), 2);
  EXPECT_EQ(Run.TaskRows(), (std::vector<int>{0, 2}));
  EXPECT_EQ(Run.JobOfTask(1), &third);
  EXPECT_EQ(Run.JobOfTask(2), nullptr);
  EXPECT_EQ(Run.RowOfTask(-1), -1);
  EXPECT_EQ(Converter.TasksCount(), 2);
  EXPECT_EQ(Converter.ThreadPriority(), TTaskPriority::tpLowest);
  EXPECT_EQ(first.ZoomMode, "lbox");
  // Same source name, different folders: the second job does not overwrite the first.
  EXPECT_EQ(Run.OutputFileOfTask(0), Folder.File("out/clip_(new).mp4"));
  EXPECT_EQ(Run.OutputFileOfTask(1), Folder.File("out/clip_(new_1).mp4"));

  Settings.SetPriority(7);  // unknown values leave the priority as it is
  ASSERT_EQ(Run.Prepare({{&first, true}}), 1);
  EXPECT_EQ(Converter.ThreadPriority(), TTaskPriority::tpLowest);
  Converter.ClearTasks();
}

TEST_F(ConversionRunTest, NothingTickedIsAWarning) {
  TlvFilesRecord& job = Job(Clip("clip.avi"));
  EXPECT_EQ(Run.Prepare({{&job, false}}), 0);
  ASSERT_EQ(Seam.Records().size(), 1u);
  EXPECT_EQ(Seam.Records()[0],
            (TSeamRecord{false, "Warning", "Please select a file by clicking the check box!", TMessageIcon::miWarning}));
  EXPECT_EQ(Converter.TasksCount(), 0);
}

TEST_F(ConversionRunTest, AnUnopenableSourceIsNamedWithItsReason) {
  TlvFilesRecord& good = Job(Clip("good.avi"));
  TlvFilesRecord& missing = Job(Folder.File("missing.avi"));
  try {
    Run.Prepare({{&good, true}, {&missing, true}});
    ADD_FAILURE() << "no error";
  } catch (const EConversionRunError& e) {
    EXPECT_NE(std::string(e.what()).find(Folder.File("missing.avi")), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
  }
  // The good job queued before it is discarded with the empty file its output had made.
  EXPECT_EQ(Converter.TasksCount(), 0);
  EXPECT_TRUE(Run.TaskRows().empty());
  EXPECT_FALSE(std::filesystem::exists(Folder.File("out/good_(new).mp4")));
  ASSERT_EQ(Run.Prepare({{&missing, true}, {&good, true}}, TRunErrorPolicy::epSkip), 1);
  ASSERT_EQ(Run.Failures().size(), 1u);
  EXPECT_EQ(Run.Failures()[0].Row, 0);
  EXPECT_EQ(Run.TaskRows(), (std::vector<int>{1}));
  Converter.ClearTasks();
}

// The run's tasks convert: the trimmed span reaches the output, one task after the other.
TEST_F(ConversionRunTest, TheQueuedTasksConvertTheTrimmedSpan) {
  TTestMediaSpec spec;
  spec.Duration = 2.0;
  ASSERT_EQ(MakeTestMedia(Folder.File("long.avi"), spec), "");
  TlvFilesRecord& job = Job(Folder.File("long.avi"));
  job.TrimStart = 500000;
  job.TrimLength = 1000000;
  ASSERT_EQ(Run.Prepare({{&job, true}}), 1);
  std::vector<TTerminateInfo> ends;
  Converter.SetOnTerminate([&](TCustomFFConverter*, const TTerminateInfo& info) { ends.push_back(info); });
  Converter.StartTask(0);  // in this thread, returning after the final notice
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_TRUE(ends[0].Finished) << ends[0].ExceptionMsg;
  TAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(Run.OutputFileOfTask(0)));
  TFileStreamInfo info;
  ASSERT_TRUE(probe.GetFileStreamInfo(info));
  EXPECT_NEAR(info.Duration / 1e6, 1.0, 0.1);
  Converter.ClearTasks();
}

}  // namespace

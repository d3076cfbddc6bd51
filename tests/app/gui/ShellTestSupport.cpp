#include "ShellTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "TestMedia.h"
#include "app/ErrorHandler.h"
#include "preview/QtDispatcher.h"

void RequireShellApplication() {
  static int argc = 1;
  static char name[] = "shell_tests";
  static char* argv[] = {name, nullptr};
  // Made at first use and ended when the tests are over, before the exit handlers: at exit
  // Qt's own statics (the pointing devices of the tests' events) are already gone.
  static std::unique_ptr<TOndrelApplication> app;
  static std::unique_ptr<TQtDispatcherScope> dispatcher;
  struct TEnding : ::testing::Environment {
    void TearDown() override {
      dispatcher.reset();
      app.reset();
    }
  };
  if (!app) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    app = std::make_unique<TOndrelApplication>(argc, argv);
    dispatcher = std::make_unique<TQtDispatcherScope>();
    ::testing::AddGlobalTestEnvironment(new TEnding);
  }
  RequireConverterLibraries();
}

void ProcessEvents() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

TShellFixture::TShellFixture() {
  RequireShellApplication();
  Fake.ForceDirectories(Fake.DataFolderResult);
  Fake.ForceDirectories(Fake.ProgramFolderResult);
  std::filesystem::copy_file(ONDREL_SHIPPED_FORMAT_STORE, Fake.ProgramFolderResult + "ondrelxvidformat.ini");
}

TShellFixture::~TShellFixture() {
  if (FWindow) {
    FWindow->hide();
    FWindow.reset();
  }
  ProcessEvents();
}

std::string TShellFixture::Folder(const std::string& name) {
  const std::string path = Root.File(name);
  Fake.ForceDirectories(path);
  return path;
}

std::string TShellFixture::Clip(const std::string& path, double seconds) {
  static std::map<double, std::string> made;  // one generated clip per length, for all tests
  static TTempDir store;
  std::string& source = made[seconds];
  if (source.empty()) {
    source = store.File("clip" + std::to_string(made.size()) + ".avi");
    TTestMediaSpec spec;
    spec.Width = 64;
    spec.Height = 48;
    spec.Duration = seconds;
    const std::string error = MakeTestMedia(source, spec);
    EXPECT_EQ(error, "");
  }
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
  return path;
}

TfrmMain& TShellFixture::Window() {
  if (!FWindow) {
    FWindow = std::make_unique<TfrmMain>();
    FWindow->show();
    ProcessEvents();
  }
  return *FWindow;
}

void TShellFixture::AddThroughDialog(const std::vector<std::string>& files) {
  Seam.ScriptedFiles.push_back(files);
  Window().btnAddClick();
}

QImage TShellFixture::ListPicture() {
  ProcessEvents();
  return Window().lvFiles->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

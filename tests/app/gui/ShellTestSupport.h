// The desktop program's windows under test: one offscreen application with the Qt dispatcher,
// and per test a temporary root with a fake platform, a scripted dialog seam and generated
// clips.
#pragma once

#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/WinMain.h"
#include "app/core/FakeDialogSeam.h"
#include "platform/FakePlatform.h"

// The application (a TOndrelApplication, so the error handler is in place) and the
// dispatcher, made at the first call and kept for the whole program.
void RequireShellApplication();
// Lets queued events run.
void ProcessEvents();

class TShellFixture {
 public:
  TShellFixture();
  ~TShellFixture();

  std::string SettingsFile() const { return Fake.DataFolderResult + "ondrelxvidconverter.ini"; }
  TSettingsStore Settings() const { return TSettingsStore(SettingsFile()); }
  // A folder below the root, created.
  std::string Folder(const std::string& name);
  // A clip of `seconds` at `path`: generated once per length and copied.
  std::string Clip(const std::string& path, double seconds = 2.0);
  // Creates and shows the main window (its first show reads the settings).
  TfrmMain& Window();
  // Adds the files through the Add button, the dialog answering with them.
  void AddThroughDialog(const std::vector<std::string>& files);
  // The job list's viewport as painted.
  QImage ListPicture();

  TTempDir Root;
  TFakePlatform Fake{Root.Path() + "/"};
  TPlatformOverride PlatformScope{Fake};
  TFakeDialogSeam Seam;
  TDialogSeamOverride SeamScope{Seam};

 private:
  std::unique_ptr<TfrmMain> FWindow;
};

// What the chooser and Settings dialog tests share: one offscreen application, a temporary
// data folder with the fake platform and the recording dialog seam, and the two INI files.
#pragma once

// Mouse events go through the platform's path, so a double-click arrives as the toolkit
// really delivers it (a press, then the double-click) and presses reach the widget under
// the pointer, as they do on screen.
#define QTEST_QPA_MOUSE_HANDLING

#include <gtest/gtest.h>

#include <QApplication>
#include <QtTest/QtTest>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "TempDir.h"
#include "app/core/FakeDialogSeam.h"
#include "app/core/SettingsStore.h"
#include "platform/FakePlatform.h"
#include "profiles/model/ProfileStore.h"

// Made at first use and ended when the tests are over, before the exit handlers: Qt's own
// statics (the pointing devices the tests' mouse events create) are gone by then.
inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "profiles_ui_tests";
  static char* argv[] = {name, nullptr};
  static std::unique_ptr<QApplication> app;
  struct TEnding : ::testing::Environment {
    void TearDown() override { app.reset(); }
  };
  if (!app) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    app = std::make_unique<QApplication>(argc, argv);
    ::testing::AddGlobalTestEnvironment(new TEnding);
  }
  return *app;
}

struct TProfilesUiFixture {
  TTempDir Root;
  TFakePlatform Fake{Root.Path()};
  TPlatformOverride PlatformScope{Fake};
  TFakeDialogSeam Seam;
  TDialogSeamOverride SeamScope{Seam};
  std::string SettingsFile = Root.File("ondrelxvidconverter.ini");
  std::string StoreFile = Root.File("ondrelxvidformat.ini");
  TSettingsStore Settings{SettingsFile};
  TFormatStore Store{StoreFile};

  TProfilesUiFixture() { TestApplication(); }

  static void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  // The file's bytes; empty when it does not exist.
  static std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::string Setting(const std::string& section, const std::string& key) const {
    return Settings.Ini().ReadString(section, key, "<missing>");
  }
};

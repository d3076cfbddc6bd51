// A temporary root with a fake platform and a recording dialog seam installed, and the
// settings file in the root's data folder.
#pragma once

#include <fstream>
#include <string>

#include "TempDir.h"
#include "app/core/FakeDialogSeam.h"
#include "app/core/SettingsStore.h"
#include "platform/FakePlatform.h"

struct TAppCoreFixture {
  TTempDir Root;
  TFakePlatform Fake{Root.Path()};
  TPlatformOverride PlatformScope{Fake};
  TFakeDialogSeam Seam;
  TDialogSeamOverride SeamScope{Seam};

  TAppCoreFixture() { Fake.ForceDirectories(Fake.DataFolderResult); }
  TSettingsStore Settings() const { return TSettingsStore(Fake.DataFolderResult + "ondrelxvidconverter.ini"); }
  std::string Folder(const std::string& name) {
    const std::string path = Root.File(name);
    Fake.ForceDirectories(path);
    return path;
  }
  static void Touch(const std::string& path) { std::ofstream(path) << "x"; }
};

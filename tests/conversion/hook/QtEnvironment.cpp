// Text items need Qt's font database, so the whole program runs with a QGuiApplication on the
// offscreen platform (no display needed).
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <memory>

namespace {

class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    App = std::make_unique<QGuiApplication>(Argc, Argv);
  }
  void TearDown() override { App.reset(); }

 private:
  int Argc = 1;
  char Name[16] = "convhook_tests";
  char* Argv[2] = {Name, nullptr};
  std::unique_ptr<QGuiApplication> App;
};

[[maybe_unused]] ::testing::Environment* const Installed = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace

#include "DialogSeam.h"

#include <atomic>
#include <cstdio>

namespace {

class TStderrDialogSeam : public TDialogSeam {
 public:
  void ShowMessage(const std::string& caption, const std::string& text, TMessageIcon) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    std::fprintf(stderr, "%s: %s (answered No)\n", caption.c_str(), text.c_str());
    return false;
  }
};

TDialogSeam& StderrSeam() {
  static TStderrDialogSeam seam;
  return seam;
}

std::atomic<TDialogSeam*> GInstalledSeam{nullptr};

}  // namespace

TDialogSeam& DialogSeam() {
  TDialogSeam* installed = GInstalledSeam.load(std::memory_order_acquire);
  return installed != nullptr ? *installed : StderrSeam();
}

void SetDialogSeam(TDialogSeam* seam) { GInstalledSeam.store(seam, std::memory_order_release); }

TDialogSeamOverride::TDialogSeamOverride(TDialogSeam& seam)
    : FPrevious(GInstalledSeam.load(std::memory_order_acquire)) {
  SetDialogSeam(&seam);
}

TDialogSeamOverride::~TDialogSeamOverride() { SetDialogSeam(FPrevious); }

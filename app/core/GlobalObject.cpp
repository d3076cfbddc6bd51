#include "GlobalObject.h"

#include "platform/Platform.h"

namespace {

// Placeholders until the product's pages exist; the reserved domain cannot reach anyone else.
constexpr const char* HelpPageAddress = "https://ondrel.example/xvid-converter/help";
constexpr const char* WebSiteAddress = "https://ondrel.example/xvid-converter/";

void SetUnlessEmpty(std::string& field, const std::string& value) {
  if (!value.empty()) field = value;
}

void SetFileName(std::string& field, const std::string& value) {
  if (value.size() > 3) field = value;
}

std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

}  // namespace

std::string LocateFormatStore() {
  const std::string inData = WithSeparator(Platform().DataFolder()) + FormatStoreFileName;
  if (Platform().FileExists(inData)) return inData;
  const std::string programFolder = WithSeparator(Platform().ProgramFolder());
  if (programFolder.empty()) return inData;
  return programFolder + FormatStoreFileName;
}

std::string RightString(const std::string& text, int n) {
  if (n <= 0) return {};
  if (static_cast<size_t>(n) >= text.size()) return text;
  return text.substr(text.size() - static_cast<size_t>(n));
}

TGlobalObject::TGlobalObject()
    : FSettingsFile(WithSeparator(Platform().DataFolder()) + SettingsFileName),
      FFormatStoreFile(LocateFormatStore()),
      FProductTitle(ProductTitleText),
      FVersionText(InitialVersionText),
      FHelpPageUrl(HelpPageAddress),
      FWebSiteUrl(WebSiteAddress) {}

void TGlobalObject::SetSettingsFile(const std::string& value) { SetFileName(FSettingsFile, value); }
void TGlobalObject::SetFormatStoreFile(const std::string& value) { SetFileName(FFormatStoreFile, value); }
void TGlobalObject::SetProductTitle(const std::string& value) { SetUnlessEmpty(FProductTitle, value); }
void TGlobalObject::SetVersionText(const std::string& value) { SetUnlessEmpty(FVersionText, value); }
void TGlobalObject::SetHelpPageUrl(const std::string& value) { SetUnlessEmpty(FHelpPageUrl, value); }
void TGlobalObject::SetWebSiteUrl(const std::string& value) { SetUnlessEmpty(FWebSiteUrl, value); }

std::string TGlobalObject::GetVersionString() const { return ::GetVersionString(); }

bool IsDirectoryWritable(const std::string& folder) {
  if (folder.empty() || !Platform().DirectoryExists(folder)) return false;
  return Platform().CreateAndDeleteTempFile(folder);
}

bool TGlobalObject::IsDirectoryWritable(const std::string& folder) const { return ::IsDirectoryWritable(folder); }

std::string TGlobalObject::GetLoginUserName() const { return Platform().LoginUserName(); }

std::string TGlobalObject::GetSpecialFolderPath(TSpecialFolder folder) const {
  switch (folder) {
    case TSpecialFolder::sfCommonAppData: return WithSeparator(Platform().DataFolder());
    case TSpecialFolder::sfProgram: return WithSeparator(Platform().ProgramFolder());
  }
  return {};
}

std::string MediaLibraryFolder() { return Platform().ProgramFolder() + "LibAV"; }

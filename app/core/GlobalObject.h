// The process-wide object: where the two INI files are, the product's texts and addresses,
// and the few questions the program asks the operating system.
#pragma once

#include <string>

inline constexpr const char* SettingsFileName = "ondrelxvidconverter.ini";
inline constexpr const char* FormatStoreFileName = "ondrelxvidformat.ini";
inline constexpr const char* ProductTitleText = "Ondrel XviD Converter";
inline constexpr const char* ApplicationTitleText = "Ondrel Video Converter";
// Shown until the main window first appears and the real version text replaces it.
inline constexpr const char* InitialVersionText = " ver 1.50 ";

enum class TSpecialFolder { sfCommonAppData, sfProgram };

// The format store in use: the copy in the data folder when there is one (a user's or an
// administrator's edited store), else the one shipped beside the program. When neither
// exists, the path beside the program (every read then gives its default).
std::string LocateFormatStore();

// True when the folder exists and a temporary file can be created in it and removed.
bool IsDirectoryWritable(const std::string& folder);

// The folder "LibAV" beside the program, where the media libraries are looked for first.
std::string MediaLibraryFolder();

// The last `n` bytes of `text`; all of it when it is shorter, nothing for n <= 0.
std::string RightString(const std::string& text, int n);

class TGlobalObject {
 public:
  // Fills every field: the settings file in the data folder, the format store by
  // LocateFormatStore, the product title, the initial version text and the page addresses.
  TGlobalObject();

  const std::string& SettingsFile() const { return FSettingsFile; }
  const std::string& FormatStoreFile() const { return FFormatStoreFile; }
  const std::string& ProductTitle() const { return FProductTitle; }
  const std::string& VersionText() const { return FVersionText; }
  const std::string& HelpPageUrl() const { return FHelpPageUrl; }
  const std::string& WebSiteUrl() const { return FWebSiteUrl; }

  // Empty values are ignored; so are file names of 3 characters or fewer, which cannot be
  // a folder plus a file name.
  void SetSettingsFile(const std::string& value);
  void SetFormatStoreFile(const std::string& value);
  void SetProductTitle(const std::string& value);
  void SetVersionText(const std::string& value);
  void SetHelpPageUrl(const std::string& value);
  void SetWebSiteUrl(const std::string& value);

  // " major.minorreleasebuild " of the program, e.g. " 1.500 ".
  std::string GetVersionString() const;
  // True when the folder exists and a temporary file can be created in it and removed.
  bool IsDirectoryWritable(const std::string& folder) const;
  std::string GetLoginUserName() const;
  // The folder with a trailing "/"; empty when the platform has none.
  std::string GetSpecialFolderPath(TSpecialFolder folder) const;

 private:
  std::string FSettingsFile;
  std::string FFormatStoreFile;
  std::string FProductTitle;
  std::string FVersionText;
  std::string FHelpPageUrl;
  std::string FWebSiteUrl;
};

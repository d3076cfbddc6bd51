// The model behind the ten parameter boxes of the Settings dialog: how the boxes are filled
// from the format store, restored from and stored to the user's section, which keys they
// take, how a typed value is checked, and the tables that turn a shown entry into the value a
// conversion uses. The dialog only mirrors this state into its widgets.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ProfileStore.h"
#include "platform/IniFile.h"

enum class TParamBox {
  pbVideoSize,
  pbVideoEncoder,
  pbVideoBitRate,
  pbFrameRate,
  pbZoom,
  pbSampleRate,
  pbAudioEncoder,
  pbChannel,
  pbVolume,
  pbAudioBitRate,
};
inline constexpr int ParamBoxCount = 10;

struct TParamBoxDef {
  TParamBox Box;
  const char* Name;      // the dialog's control name
  bool Video;            // "Video Options" group, else "Audio Options"
  const char* Label;
  bool Editable;         // takes a typed value
  const char* ListKey;   // format store list; nullptr for the zoom box
  const char* IndexKey;  // nullptr for the zoom box
  const char* ValueKey;
  bool EmptyListIsNull;  // an empty list value disables the box like "null"
};
std::span<const TParamBoxDef> ParamBoxDefs();
const TParamBoxDef& ParamBoxDef(TParamBox box);

// The zoom box's own entries, in position order.
inline constexpr const char* ZoomEntries[] = {"Full screen", "Letterbox", "Pan and Scan"};

// A list value split at every comma, untrimmed: empty entries stay. "null", and for the
// boxes that say so an empty value, give a disabled box without entries.
struct TListFill {
  bool Enabled = false;
  std::vector<std::string> Entries;
  bool operator==(const TListFill&) const = default;
};
TListFill SplitListValue(const std::string& value, bool emptyIsNull);

// Entry -> stored value. Encoders are looked up lower-cased, channels exactly; nullopt for an
// entry the table does not hold (nothing is stored then).
using TNameMap = std::pair<const char*, const char*>;
std::span<const TNameMap> VideoEncoderTable();
std::span<const TNameMap> AudioEncoderTable();
std::optional<std::string> MapVideoEncoder(const std::string& entry);
std::optional<std::string> MapAudioEncoder(const std::string& entry);
std::optional<std::string> MapChannel(const std::string& entry);
// "150%" -> "384": the entry less its last character as a whole percentage, for the twelve
// percentages the engine's volume scale has (25 .. 400).
std::optional<std::string> MapVolume(const std::string& entry);
// The audio entry that also fixes 8000 Hz mono.
inline constexpr const char* GsmEntry = "gsm";
// The video value after which the H.264 keys are copied.
inline constexpr const char* H264EncoderValue = "libx264";

// Texts of the number tests: optional sign and decimal digits that fit in int; a decimal
// number may also have one "." with digits on at least one side.
bool IsWholeNumber(const std::string& text);
bool IsDecimalNumber(const std::string& text);

// Checking a typed value when its box loses the focus.
struct TCheckResult {
  bool Accepted = true;
  std::string Caption;    // of the message; empty: no message
  std::string Message;
  std::string Corrected;  // frame size only: the text the box takes instead; empty: none
  bool ResetBox = false;  // select the box's second entry, when it has one
  bool operator==(const TCheckResult&) const = default;
};
TCheckResult CheckFrameSize(const std::string& text);
TCheckResult CheckVideoBitRate(const std::string& text);
TCheckResult CheckAudioBitRate(const std::string& text);
TCheckResult CheckSampleRate(const std::string& text);

inline constexpr char BackspaceKey = '\b';
enum class TKeyVerdict { kvAccept, kvRefuse, kvRefuseWithMessage };
inline constexpr const char* NumericKeyMessage = "Please enter numerical.";
// The key filter of an editable box holding `text`; other boxes accept every key.
TKeyVerdict FilterKey(TParamBox box, const std::string& text, char key);

// Key/value pairs of a user section, in the order they are written, each key once.
using TStoredValues = std::vector<std::pair<std::string, std::string>>;

struct TBoxState {
  std::vector<std::string> Entries;
  bool Enabled = false;
  bool GreyText = false;
  int ItemIndex = -1;  // -1: no entry selected (an editable box may hold typed text)
  std::string Text;    // as shown
};

class TParameterModel {
 public:
  TParameterModel();

  const TBoxState& Box(TParamBox box) const { return FBoxes[static_cast<int>(box)]; }

  // Refills the nine store-driven boxes from section "formatInfo" + code of the store; the
  // selections are cleared.
  void LoadLists(const TFormatStore& store, int code);
  // Selects the user's stored choices; with typed values, the five value boxes show their
  // stored text when their index is negative. Then the groups are enabled or disabled.
  void RestoreSelections(const TIniFile& settings, int code, bool withTypedValues);
  // Selects the format's default entries and "Full screen". Stores nothing.
  void ApplyDefaults(const TFormatStore& store, int code);
  // RestoreSelections; for a format the user never set up, the boxes show what its
  // conversion will use instead: the format's default entries and "Letterbox".
  void RestoreOrShowDefaults(const TIniFile& settings, const TFormatStore& store, int code, bool withTypedValues);
  // What StoreValues writes: the index keys, the values and, for H.264, the copied keys.
  // Values no table holds are left out, so the earlier value stays; nothing half-formed is
  // ever written.
  TStoredValues StoredValues(const TFormatStore& store, int code) const;
  // Writes the user's section from the boxes.
  void StoreValues(TIniFile& settings, const TFormatStore& store, int code) const;

  // The dialog's side. An index out of range empties the box.
  void Select(TParamBox box, int index);
  // Typed text of an editable box (no entry is selected afterwards).
  void SetText(TParamBox box, const std::string& text);
  // A key typed into `box`: refused keys are not applied and the dialog beeps; the numeric
  // boxes also show "Please enter numerical." through the dialog seam.
  TKeyVerdict KeyPress(TParamBox box, char key);
  // Leaving an editable box: checks its text, shows the message through the dialog seam and
  // corrects or resets the box. Other boxes are always accepted.
  TCheckResult LeaveBox(TParamBox box);

 private:
  TBoxState& State(TParamBox box) { return FBoxes[static_cast<int>(box)]; }
  void EnableGroups();
  void AddH264Keys(TStoredValues& values, const TFormatStore& store, int code) const;

  TBoxState FBoxes[ParamBoxCount];
};

// What the Settings dialog stores for a format after "&Default" and "&Ok": the format
// store's default entries, mapped as StoreValues maps them. Nothing is written.
TStoredValues FormatDefaultValues(const TFormatStore& store, int code);

// The values a conversion reads for one format. A user section that holds none of the value
// keys (the user never confirmed the Settings dialog for this format) reads as
// FormatDefaultValues would have stored it, so a first conversion gets the format's own
// encoders and sizes; the settings file is not written. Keys the defaults leave out, and
// every key of a section the user did store, read as TUserFormatSection::ConversionValue.
class TConversionValues {
 public:
  TConversionValues(const TIniFile& settings, const TFormatStore& store, int code);

  std::string Value(const char* valueKey) const;
  // "libfaac" when missing and the format has no video (see ConversionAudioEncoder).
  std::string AudioEncoder(bool audioOnly) const;
  bool FromFormatDefaults() const { return FDefaults.has_value(); }

 private:
  const std::string* Default(const char* valueKey) const;

  TUserFormatSection FSection;
  std::optional<TStoredValues> FDefaults;
};

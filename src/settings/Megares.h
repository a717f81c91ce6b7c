// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings store: named text values by section and key, kept either in an
// INI file (TIniFile) or in the registry (TWindowsRegistry), with typed reads and
// writes, the text forms of colours and fonts, and the saving of the owner form's
// position and size.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry.h"
#include "platform/types.h"
#include "runtime/component.h"
#include "runtime/result.h"
#include "settings/StoredKeys.h"
#include "settings/font.h"

namespace pling::platform {
class TFileReadHold;
}

namespace pling::settings {

// ---------------------------------------------------------------------------
// Writes held back by a back end's BeginUpdate, by key: a later write to the same
// key replaces the held value and keeps its place.
class TPendingWrites {
 public:
  struct TWrite {
    std::string section;
    std::string key;
    std::string value;
  };

  // `id` tells keys apart as the back end does (the same id is the same key).
  void Put(std::string id, std::string_view section, std::string_view key, std::string_view value);
  const std::string* Find(const std::string& id) const;
  bool Empty() const { return FWrites.empty(); }
  // The held writes in the order of their first write; none are held after.
  std::vector<TWrite> Take();

 private:
  std::vector<TWrite> FWrites;
  std::unordered_map<std::string, std::size_t> FIndex;
};

// A text value by its section and key, as a caller holds it.
struct TSettingText {
  std::string_view section;
  std::string_view key;
  std::string_view text;
};

// ---------------------------------------------------------------------------
// Back ends: the INI file and the registry, each behind this interface; the
// store holds one and calls through it, whichever it is.
class TSettingsBackEnd {
 public:
  TSettingsBackEnd() = default;
  virtual ~TSettingsBackEnd() = default;
  TSettingsBackEnd(const TSettingsBackEnd&) = delete;
  TSettingsBackEnd& operator=(const TSettingsBackEnd&) = delete;

  // The stored text, whole whatever its length, or the default when absent.
  virtual std::string ReadText(std::string_view section, std::string_view key,
                               std::string_view defaultValue) const = 0;
  // The stored text as ReadText reads it, nothing when absent, or why the file
  // cannot be read ("<file>: <cause>" in the error's text).
  virtual runtime::TResult<std::optional<std::string>> TryReadText(std::string_view section,
                                                                   std::string_view key) const = 0;
  virtual std::int32_t ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const = 0;
  // The texts of the list `key` (key0, key1, ... up to the first absent or empty
  // one), as ReadText reads each.
  virtual std::vector<std::string> ReadList(std::string_view section, std::string_view key) const;
  virtual bool ReadBool(std::string_view section, std::string_view key,
                        bool defaultValue) const = 0;
  virtual void WriteText(std::string_view section, std::string_view key,
                         std::string_view value) = 0;
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);

  // What stands in the way of the stored values, one text each, for a report at
  // start.
  virtual std::vector<std::string> FileProblems() const = 0;

  // Whether every one of `values` is stored as it stands, so that writing them
  // would change nothing; false when that is not known cheaply.
  virtual bool Holds(std::span<const TSettingText> /*values*/) const { return false; }

  // The stored values' present version, as a token: two tokens share their owner
  // exactly when the file held the same values for both. Empty where that is not
  // known cheaply, and while writes are held back.
  virtual std::shared_ptr<const void> Version() const { return nullptr; }

  // Holds writes back until the matching EndUpdate, which writes them all as one
  // replacement of the file; reads in between see them. Calls nest.
  void BeginUpdate() { ++FUpdateDepth; }
  // Raises runtime::Exception "Unable to write to <name> (<file>: <cause>)" when
  // the held writes cannot be written; they are dropped then.
  void EndUpdate();
  // Writes what is held now, whatever the nesting; raises as EndUpdate.
  virtual void WritePending() = 0;
  int UpdateDepth() const { return FUpdateDepth; }

 protected:
  int FUpdateDepth = 0;
  TPendingWrites FPending;
};

// Values in a profile (INI) file. A name without a folder refers to a file in
// the platform's Windows directory; no extension is added. Creation touches no
// file.
class TIniFile final : public TSettingsBackEnd {
 public:
  explicit TIniFile(std::string fileName);
  ~TIniFile() override;

  const std::string& FileName() const { return FFileName; }

  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view defaultValue) const override;
  runtime::TResult<std::optional<std::string>> TryReadText(std::string_view section,
                                                           std::string_view key) const override;
  // An absent, empty or invalid value gives the default; "0x"/"0X" before at
  // least one more character reads as "$" (hexadecimal).
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t defaultValue) const override;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const override;
  // A text with blanks at its ends, or in a pair of quotes, is stored in quotes,
  // so that it reads back as it was given. runtime::Exception "Unable to write
  // to <file name>" when the file cannot be written.
  void WriteText(std::string_view section, std::string_view key, std::string_view value) override;

  // A file that cannot be read, and lines of it that cannot be read as they
  // stand (each costs only itself; the file's other values read and are kept).
  std::vector<std::string> FileProblems() const override;

  // Raises runtime::Exception "Unable to write to <file name> (<file>: <cause>)".
  void WritePending() override;

 private:
  std::string FFileName;
};

// Values in the registry: every setting is the key Section\Key below
// HKEY_CLASSES_ROOT\Company\App, its text the key's default value (REG_SZ). When
// the application key cannot be opened every read gives its default and every
// write is lost; write failures are not reported.
class TWindowsRegistry final : public TSettingsBackEnd {
 public:
  TWindowsRegistry(std::string company, std::string app);
  ~TWindowsRegistry() override;

  // The key handle; 0 when the application key could not be opened or created.
  platform::HKEY Key() const { return FKey; }
  // Why the key could not be opened ("<file>: <cause>"); empty while it is open.
  const std::string& OpenError() const { return FOpenError; }

  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view defaultValue) const override;
  // For the hive file; while the key is not open, the failure to open it when
  // that was the file's, else nothing.
  runtime::TResult<std::optional<std::string>> TryReadText(std::string_view section,
                                                           std::string_view key) const override;
  // An absent value gives the default; a present value that is not valid
  // integer text (an empty one included) raises runtime::EConvertError.
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t defaultValue) const override;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const override;
  void WriteText(std::string_view section, std::string_view key, std::string_view value) override;

  // The hive file's; and when the application key could not be opened, why (the
  // settings cannot be kept then).
  std::vector<std::string> FileProblems() const override;
  // One look at the hive file for all of them.
  bool Holds(std::span<const TSettingText> values) const override;
  std::vector<std::string> ReadList(std::string_view section, std::string_view key) const override;
  std::shared_ptr<const void> Version() const override;

  // While the key is not open, writes are lost as ever, and the end of an update
  // that had some raises with the cause of the failed open. Raises
  // runtime::Exception "Unable to write to <application key> (<file>: <cause>)",
  // the key as HKEY_CLASSES_ROOT\Company\App, when the hive cannot be written.
  void WritePending() override;

 private:
  // The value of the setting, or false when it is absent or cannot be read.
  bool Query(std::string_view section, std::string_view key, std::string& value) const;

  // The application key's full name (HKEY_CLASSES_ROOT, company, app), for messages.
  std::string KeyName() const;

  std::string FApp;
  std::string FCompany;
  platform::HKEY FKey = 0;
  std::string FOpenError;
  // Why the key could not be opened, with the file's cause in its text when the
  // file was to blame.
  runtime::TError FOpenFailure;
  bool FWritesLost = false;
};

// ---------------------------------------------------------------------------
// Colour and font texts.

// The colour's identifier (clMaroon, clWindowText, ...) when it is one of the
// named colours, else "$" and eight upper-case hexadecimal digits.
std::string ColorToText(TColor color);
// An identifier (ASCII case ignored) or integer text; runtime::EConvertError
// "'<text>' is not a valid integer value" otherwise.
TColor TextToColor(std::string_view text);
// Face;size;colour;flags, the flags "1" or "0" for bold, italic, strike-out and
// underline in this order, e.g. "MS Sans Serif;8;clWindowText;0100".
std::string FontToText(const TFont& font);
// One line about a stored value that could not be read: its section and key,
// its stored text and why, as in SendMemo\Color "pink": 'pink' is not a valid
// integer value.
std::string SettingProblemText(std::string_view section, std::string_view key,
                               std::string_view stored, std::string_view error);
// The font that a font text describes, on top of the default attributes; an
// invalid size or colour field raises runtime::EConvertError.
TFont FontFromText(std::string_view text);

// ---------------------------------------------------------------------------
// While one lives, every store in the process reads its file as it read it first
// in that time (with what the process writes itself): one read and one parse of
// the file for a whole run of reads (the window's start reads a value per
// receiver), also when the file was written just before and its time alone
// cannot tell it from a later version. What another process writes meanwhile is
// seen after the hold.
class TReadHold {
 public:
  TReadHold();
  ~TReadHold();
  TReadHold(const TReadHold&) = delete;
  TReadHold& operator=(const TReadHold&) = delete;

 private:
  std::unique_ptr<platform::TFileReadHold> FHold;
};

// ---------------------------------------------------------------------------
// The store.

enum class TMRPreference : std::uint8_t { mrpAuto = 0, mrpIni = 1, mrpRegistry = 2 };
using enum TMRPreference;

// Which back end the store has open.
enum class TMRBackEndKind : std::uint8_t { bkNone = 0, bkIni = 1, bkRegistry = 2 };
using enum TMRBackEndKind;

class TMegaRegistry : public runtime::TComponent {
 public:
  explicit TMegaRegistry(runtime::TComponent* owner = nullptr);
  ~TMegaRegistry() override;

  const char* ClassName() const override { return "TMegaRegistry"; }

  // Setting App, Company, IniName or Preference closes the back end; only a
  // later OpenBackEnd (or the after-load step) opens it again.
  const std::string& App() const { return FApp; }
  void SetApp(const std::string& value);
  const std::string& Company() const { return FCompany; }
  void SetCompany(const std::string& value);
  const std::string& IniName() const { return FIniName; }
  void SetIniName(const std::string& value);
  TMRPreference Preference() const { return FPreference; }
  void SetPreference(TMRPreference value);
  bool SaveFormCoord() const { return FSaveFormCoord; }
  void SetSaveFormCoord(bool value) { FSaveFormCoord = value; }

  // Closes the back end, then opens the one that Preference (and for mrpAuto the
  // platform's version) chooses, unless App, Company or IniName is empty.
  void OpenBackEnd();
  void CloseBackEnd();
  // The open back end's kind; bkNone when the store is closed.
  TMRBackEndKind BackEndKind() const { return FBackEnd ? FBackEndKind : bkNone; }
  // The kind OpenBackEnd would open now, without opening it (opening the registry
  // creates its key, and so its file); bkNone when App, Company or IniName is empty.
  TMRBackEndKind ChosenBackEndKind() const;
  // The back end that mrpAuto chooses for a platform version (major version in
  // the low byte, minor in the next): the registry from 3.21 on.
  static TMRBackEndKind KindForVersion(platform::DWORD version);

  // Reads give the default and writes do nothing while the store is closed.
  std::string ReadText(std::string_view section, std::string_view key,
                       std::string_view defaultValue) const;
  // The back end's TryReadText; nothing while the store is closed.
  runtime::TResult<std::optional<std::string>> TryReadText(std::string_view section,
                                                           std::string_view key) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t defaultValue) const;
  bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
  // A new font read from its font text; the default font's text when absent.
  TFont ReadFont(std::string_view section, std::string_view key, const TFont& defaultFont) const;
  void WriteText(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  void WriteFont(std::string_view section, std::string_view key, const TFont& font);
  // A value of the table of stored keys (StoredKeys.h); without a default given,
  // the table's while it is absent.
  std::string ReadText(const TStoredKey& key) const;
  bool ReadBool(const TStoredKey& key) const;
  std::string ReadText(const TStoredKey& key, std::string_view defaultValue) const {
    return ReadText(key.section, key.key, defaultValue);
  }
  std::int32_t ReadInteger(const TStoredKey& key, std::int32_t defaultValue) const {
    return ReadInteger(key.section, key.key, defaultValue);
  }
  bool ReadBool(const TStoredKey& key, bool defaultValue) const {
    return ReadBool(key.section, key.key, defaultValue);
  }
  TFont ReadFont(const TStoredKey& key, const TFont& defaultFont) const {
    return ReadFont(key.section, key.key, defaultFont);
  }

  static std::string FontToText(const TFont& font) { return settings::FontToText(font); }
  static std::string ColorToText(TColor color) { return settings::ColorToText(color); }
  static TColor TextToColor(std::string_view text) { return settings::TextToColor(text); }

  // Holds back writes until the matching EndUpdate, which stores them all as one
  // replacement of the file (one lock, one parse, one fsync pair), merged with
  // what other processes wrote meanwhile. Calls nest; only the outermost
  // EndUpdate writes. Reads in between see the held values.
  void BeginUpdate();
  // Raises runtime::Exception naming the file and the cause (strerror) when the
  // write fails; nothing is lost silently, for either back end.
  void EndUpdate();
  // The open back end's FileProblems; none while the store is closed.
  std::vector<std::string> BackEndProblems() const;
  // Whether the open back end holds every one of `values` as it stands, so that
  // writing them would change nothing (for the registry, one look at its file
  // instead of a write of them all); false when not known.
  bool Holds(std::span<const TSettingText> values) const;
  // The texts of the list `key` in `section` (TSettingsBackEnd::ReadList).
  std::vector<std::string> ReadList(std::string_view section, std::string_view key) const;
  // The back end's version of the stored values (TSettingsBackEnd::Version).
  std::shared_ptr<const void> Version() const;
  // Closing the back end (CloseBackEnd, a change of App, Company, IniName or
  // Preference, OpenBackEnd) first writes what it holds, and raises as EndUpdate
  // when that fails; the store stays in its update, and a back end opened later
  // holds writes too. Destruction writes what is held and drops a failure.

  // With SaveFormCoord: records the owner form's bounds now and writes them,
  // inside an update with its other writes (one replacement of the file). Once
  // they are written, the store's destruction writes them again only if they
  // changed since. Raises as the writes do.
  void SaveFormBounds();

  // The owner form's removal notices record its bounds, and so does the store's
  // destruction while its owner is still a form (see owner_form.h).
  void Notification(runtime::TComponent& component, runtime::TOperation operation) override;

 protected:
  // Opens the back end and, with SaveFormCoord, restores the owner form's bounds.
  // A bound whose stored text is no integer stays as it is and the others are
  // read; then runtime::EConvertError names each (SettingProblemText, one a line).
  void Loaded() override;
  // The platform's version, as platform::GetVersion reports it.
  virtual platform::DWORD PlatformVersion() const;

 private:
  void ReadFormCoord();
  void WriteFormCoord();
  // Copies the owner form's bounds, when the owner is a form.
  void RecordBounds();

  std::string FApp;
  std::string FCompany;
  std::string FIniName;
  TMRPreference FPreference = mrpAuto;
  bool FSaveFormCoord = false;

  std::unique_ptr<TSettingsBackEnd> FBackEnd;
  TMRBackEndKind FBackEndKind = bkNone;
  int FUpdateCount = 0;

  std::int32_t FLeft = 0;
  std::int32_t FTop = 0;
  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
  bool FBoundsRecorded = false;
  std::string FCoordSection;
  // The bounds held in the update under way, and those the open back end has
  // stored (left, top, width, height).
  using TBounds = std::array<std::int32_t, 4>;
  std::optional<TBounds> FHeldBounds;
  std::optional<TBounds> FWrittenBounds;
};

// Where the program keeps its settings: the store of the application "Pling" of
// the company "Corvid", as the file "Pling" or under the registry key, whichever
// the system's version calls for (mrpAuto). The window, pling-cli and the tests
// all configure their store with it, so that they meet in the same place.
inline constexpr const char* kProgramIniName = "Pling";
void ConfigureProgramStore(TMegaRegistry& store);

}  // namespace pling::settings

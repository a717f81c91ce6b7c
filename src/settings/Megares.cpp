// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/Megares.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/file_cache.h"
#include "platform/hive_parser.h"
#include "platform/profile.h"
#include "platform/profile_parser.h"
#include "platform/version.h"
#include "runtime/exceptions.h"
#include "settings/IntText.h"
#include "settings/owner_form.h"

namespace pling::settings {

namespace {

// Registry key paths and values longer than this cannot be used.
constexpr std::size_t kRegistryMaxPath = 255;
// No text value is longer than the largest settings file (64 MiB).
constexpr std::size_t kMaxTextSize = std::size_t{64} << 20;

std::string SettingPath(std::string_view section, std::string_view key) {
  std::string path;
  path.reserve(section.size() + 1 + key.size());
  path.append(section).append("\\").append(key);
  return path;
}

struct TColorName {
  TColor color;
  const char* name;
};

// In this order: the first match wins when a colour is turned into text.
constexpr std::array<TColorName, 42> kColorNames{{
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clScrollBar, "clScrollBar"},
    {clBackground, "clBackground"},
    {clActiveCaption, "clActiveCaption"},
    {clInactiveCaption, "clInactiveCaption"},
    {clMenu, "clMenu"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clMenuText, "clMenuText"},
    {clWindowText, "clWindowText"},
    {clCaptionText, "clCaptionText"},
    {clActiveBorder, "clActiveBorder"},
    {clInactiveBorder, "clInactiveBorder"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clBtnFace, "clBtnFace"},
    {clBtnShadow, "clBtnShadow"},
    {clGrayText, "clGrayText"},
    {clBtnText, "clBtnText"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clBtnHighlight, "clBtnHighlight"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clInfoText, "clInfoText"},
    {clInfoBk, "clInfoBk"},
    {clNone, "clNone"},
}};

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The text up to the next ";", removed from `rest` with the ";"; the whole rest
// when there is no ";".
std::string_view NextField(std::string_view& rest) {
  const std::size_t at = rest.find(';');
  if (at == std::string_view::npos) {
    const std::string_view field = rest;
    rest = {};
    return field;
  }
  const std::string_view field = rest.substr(0, at);
  rest.remove_prefix(at + 1);
  return field;
}

// The callers pass C strings: a NUL ends the text.
std::string_view AsCString(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// "Unable to write to <name>", with the file and the cause when a file failed.
std::string WriteErrorText(const std::string& name, const runtime::TError& failure) {
  std::string text = "Unable to write to " + name;
  if (!failure.text.empty()) text.append(" (").append(failure.text).append(")");
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// TPendingWrites

void TPendingWrites::Put(std::string id, std::string_view section, std::string_view key,
                         std::string_view value) {
  const auto [found, added] = FIndex.try_emplace(std::move(id), FWrites.size());
  if (added) {
    FWrites.push_back(TWrite{std::string(section), std::string(key), std::string(value)});
  } else {
    FWrites[found->second].value.assign(value);
  }
}

const std::string* TPendingWrites::Find(const std::string& id) const {
  const auto found = FIndex.find(id);
  return found == FIndex.end() ? nullptr : &FWrites[found->second].value;
}

std::vector<TPendingWrites::TWrite> TPendingWrites::Take() {
  FIndex.clear();
  return std::exchange(FWrites, {});
}

// ---------------------------------------------------------------------------
// TSettingsBackEnd

void TSettingsBackEnd::WriteInteger(std::string_view section, std::string_view key,
                                    std::int32_t value) {
  WriteText(section, key, IntToStr(value));
}

std::vector<std::string> TSettingsBackEnd::ReadList(std::string_view section,
                                                    std::string_view key) const {
  std::vector<std::string> values;
  for (int i = 0;; ++i) {
    std::string value = ReadText(section, std::string(key) + std::to_string(i), "");
    if (value.empty()) return values;
    values.push_back(std::move(value));
  }
}

void TSettingsBackEnd::EndUpdate() {
  if (FUpdateDepth == 0) return;
  if (--FUpdateDepth == 0) WritePending();
}

// ---------------------------------------------------------------------------
// TIniFile

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {}

TIniFile::~TIniFile() {
  try {
    WritePending();
  } catch (const runtime::Exception&) {
    // Nothing can report it while the back end goes away.
  }
}

void TIniFile::WritePending() {
  if (FPending.Empty()) return;
  std::vector<platform::TProfileValue> values;
  for (TPendingWrites::TWrite& write : FPending.Take()) {
    values.push_back(platform::TProfileValue{std::move(write.section), std::move(write.key),
                                             std::move(write.value)});
  }
  if (const auto written = platform::WriteProfileValues(values, FFileName); !written) {
    throw runtime::Exception(WriteErrorText(FFileName, written.Error()));
  }
}

std::string TIniFile::ReadText(std::string_view section, std::string_view key,
                               std::string_view defaultValue) const {
  auto read = TryReadText(section, key);
  if (!read || !read.Value()) return std::string(AsCString(defaultValue));
  return std::move(*read.Value());
}

runtime::TResult<std::optional<std::string>> TIniFile::TryReadText(std::string_view section,
                                                                   std::string_view key) const {
  using TRead = std::optional<std::string>;
  if (!FPending.Empty()) {
    if (const std::string* held =
            FPending.Find(platform::ProfileKeyId(AsCString(section), AsCString(key)))) {
      return TRead(std::string(platform::ProfileValueAsRead(*held)));
    }
  }
  auto read = platform::ReadProfileValue(section, key, FFileName);
  // ReadText reads no more than this.
  if (read && read.Value() && read.Value()->size() >= kMaxTextSize) {
    read.Value()->resize(kMaxTextSize - 1);
  }
  return read;
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const {
  std::string text = ReadText(section, key, "");
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'X' || text[1] == 'x')) {
    text.replace(0, 2, "$");
  }
  return TryStrToInt(text).value_or(defaultValue);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteText(std::string_view section, std::string_view key, std::string_view value) {
  const std::string stored = platform::ProfileTextFor(AsCString(value));
  value = stored;
  if (FUpdateDepth > 0) {
    section = AsCString(section);
    key = AsCString(key);
    // What could never be written fails now, as it would without the update.
    if (FFileName.empty() || !platform::IsWritableProfileEntry(section, key, value)) {
      throw runtime::Exception("Unable to write to " + FFileName);
    }
    FPending.Put(platform::ProfileKeyId(section, key), section, key, value);
    return;
  }
  if (const auto written = platform::WriteProfileValue(section, key, value, FFileName); !written) {
    throw runtime::Exception(WriteErrorText(FFileName, written.Error()));
  }
}

std::vector<std::string> TIniFile::FileProblems() const {
  return platform::ProfileFileProblems(FFileName);
}

// ---------------------------------------------------------------------------
// TWindowsRegistry

TWindowsRegistry::TWindowsRegistry(std::string company, std::string app)
    : FApp(std::move(app)), FCompany(std::move(company)) {
  const std::string path = FCompany + "\\" + FApp;
  if (path.size() > kRegistryMaxPath) {
    FOpenError = "the key path is longer than 255 characters";
  } else if (auto key = platform::CreateRegKey(platform::HKEY_CLASSES_ROOT, path)) {
    FKey = key.Value();
  } else {
    FOpenFailure = key.Error();
    FOpenError = FOpenFailure.text;
    if (FOpenError.empty()) FOpenError = "error " + std::to_string(FOpenFailure.code);
  }
}

std::string TWindowsRegistry::KeyName() const {
  return std::string(platform::kClassesRootName) + "\\" + FCompany + "\\" + FApp;
}

TWindowsRegistry::~TWindowsRegistry() {
  try {
    WritePending();
  } catch (const runtime::Exception&) {
    // Nothing can report it while the back end goes away.
  }
  if (FKey != 0) platform::RegCloseKey(FKey);
}

void TWindowsRegistry::WritePending() {
  if (FWritesLost) {
    // Held writes while the key was not open: they cannot be written.
    FWritesLost = false;
    FPending.Take();
    throw runtime::Exception("Unable to write to " + KeyName() + " (" + FOpenError + ")");
  }
  if (FPending.Empty()) return;
  std::vector<platform::TRegValue> values;
  for (TPendingWrites::TWrite& write : FPending.Take()) {
    values.push_back(
        platform::TRegValue{SettingPath(write.section, write.key), std::move(write.value)});
  }
  if (const auto written = platform::SetRegValues(FKey, values); !written) {
    throw runtime::Exception(WriteErrorText(KeyName(), written.Error()));
  }
}

bool TWindowsRegistry::Query(std::string_view section, std::string_view key,
                             std::string& value) const {
  const auto read = TryReadText(section, key);
  if (!read || !read.Value()) return false;
  value = std::move(*read.Value());
  return true;
}

runtime::TResult<std::optional<std::string>> TWindowsRegistry::TryReadText(
    std::string_view section, std::string_view key) const {
  using TRead = std::optional<std::string>;
  if (FKey == 0) {
    if (FOpenFailure.text.empty()) return TRead();
    return FOpenFailure;
  }
  const std::string path = SettingPath(section, key);
  if (path.size() > kRegistryMaxPath) return TRead();
  if (!FPending.Empty()) {
    if (const std::string* held = FPending.Find(platform::HiveKeyId(AsCString(path)))) {
      return TRead(*held);
    }
  }
  auto read = platform::QueryRegValue(FKey, path);
  // A failure that concerns no file reads as absent, as ReadText's default does.
  if (!read && read.Error().text.empty()) return TRead();
  if (read.Value() && read.Value()->size() >= kMaxTextSize) return TRead();
  return read;
}

std::string TWindowsRegistry::ReadText(std::string_view section, std::string_view key,
                                       std::string_view defaultValue) const {
  std::string value;
  if (!Query(section, key, value)) return std::string(defaultValue);
  return value;
}

std::int32_t TWindowsRegistry::ReadInteger(std::string_view section, std::string_view key,
                                           std::int32_t defaultValue) const {
  std::string value;
  if (!Query(section, key, value)) return defaultValue;
  return StrToInt(value);
}

bool TWindowsRegistry::ReadBool(std::string_view section, std::string_view key,
                                bool defaultValue) const {
  std::string value;
  if (!Query(section, key, value)) return defaultValue;
  return StrToInt(value) != 0;
}

void TWindowsRegistry::WriteText(std::string_view section, std::string_view key,
                                 std::string_view value) {
  if (FKey == 0) {
    // Lost, as ever; an update reports it at its end.
    if (FUpdateDepth > 0) FWritesLost = true;
    return;
  }
  const std::string path = SettingPath(section, key);
  if (path.size() > kRegistryMaxPath) return;
  if (FUpdateDepth > 0) {
    // Held only when it can be written; a value that cannot is lost, as below.
    value = AsCString(value);
    if (platform::IsWritableRegValue(path, value)) {
      FPending.Put(platform::HiveKeyId(AsCString(path)), section, key, value);
    }
    return;
  }
  // Failures are not reported.
  platform::RegSetValue(FKey, path, platform::REG_SZ, value);
}

bool TWindowsRegistry::Holds(std::span<const TSettingText> values) const {
  // Held writes would have to be looked at too: not known cheaply then.
  if (FKey == 0 || !FPending.Empty()) return false;
  std::vector<platform::TRegValue> set;
  set.reserve(values.size());
  for (const TSettingText& value : values) {
    std::string path = SettingPath(value.section, value.key);
    if (path.size() > kRegistryMaxPath) return false;
    set.push_back({std::move(path), std::string(value.text)});
  }
  return platform::RegValuesSet(FKey, set);
}

std::vector<std::string> TWindowsRegistry::ReadList(std::string_view section,
                                                    std::string_view key) const {
  // Held writes are read as ReadText reads them, one by one.
  if (FKey == 0 || !FPending.Empty()) return TSettingsBackEnd::ReadList(section, key);
  std::vector<std::string> values = platform::QueryRegList(FKey, SettingPath(section, key));
  // Where ReadText would find the text too large: the end.
  const auto large = std::find_if(values.begin(), values.end(), [](const std::string& value) {
    return value.size() >= kMaxTextSize;
  });
  values.erase(large, values.end());
  return values;
}

std::shared_ptr<const void> TWindowsRegistry::Version() const {
  if (FKey == 0 || !FPending.Empty()) return nullptr;
  return platform::RegistryHiveVersion();
}

std::vector<std::string> TWindowsRegistry::FileProblems() const {
  std::vector<std::string> problems = platform::RegistryHiveProblems();
  // A file that cannot be read says so already; else an application key that
  // could not be made (a folder that cannot be written, say) is told here.
  if (FKey == 0 && problems.empty()) {
    problems.push_back("Cannot open " + KeyName() + " (" + FOpenError +
                       "): no setting can be kept");
  }
  return problems;
}

// ---------------------------------------------------------------------------
// Colour and font texts

std::string SettingProblemText(std::string_view section, std::string_view key,
                               std::string_view stored, std::string_view error) {
  std::string text;
  text.append(section).append("\\").append(key).append(" \"").append(stored).append("\": ");
  return text.append(error);
}

std::string ColorToText(TColor color) {
  for (const TColorName& name : kColorNames) {
    if (name.color == color) return name.name;
  }
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "$%.8X", static_cast<std::uint32_t>(color));
  return text.data();
}

TColor TextToColor(std::string_view text) {
  for (const TColorName& name : kColorNames) {
    if (SameTextAscii(text, name.name)) return name.color;
  }
  return StrToInt(text);
}

std::string FontToText(const TFont& font) {
  std::string text = font.name;
  text.append(";").append(IntToStr(font.size));
  text.append(";").append(ColorToText(font.color)).append(";");
  for (TFontStyle style : {fsBold, fsItalic, fsStrikeOut, fsUnderline}) {
    text.push_back(font.style.Contains(style) ? '1' : '0');
  }
  return text;
}

TFont FontFromText(std::string_view text) {
  TFont font;
  std::string_view rest = text;
  font.name = std::string(NextField(rest));
  font.size = StrToInt(NextField(rest));
  font.color = TextToColor(NextField(rest));
  const std::string_view flags = NextField(rest);
  font.style.Clear();
  constexpr std::array<TFontStyle, 4> kFlagStyles{fsBold, fsItalic, fsStrikeOut, fsUnderline};
  for (std::size_t i = 0; i < kFlagStyles.size() && i < flags.size(); ++i) {
    if (flags[i] == '1') font.style.Include(kFlagStyles[i]);
  }
  return font;
}

// ---------------------------------------------------------------------------
// TMegaRegistry

TMegaRegistry::TMegaRegistry(runtime::TComponent* owner) : runtime::TComponent(owner) {}

TMegaRegistry::~TMegaRegistry() {
  if (!Designing()) {
    // Nothing can report a failure while the store goes away: the bounds and
    // any writes still held are lost then.
    try {
      // While the owner is still a form (its teardown frees its components), its
      // bounds are as they were when the teardown began, whichever of its
      // components go before the store.
      RecordBounds();
      if (FSaveFormCoord) WriteFormCoord();
    } catch (const runtime::Exception&) {
    }
    try {
      CloseBackEnd();
    } catch (const runtime::Exception&) {
    }
  }
}

void TMegaRegistry::BeginUpdate() {
  ++FUpdateCount;
  if (FBackEnd) FBackEnd->BeginUpdate();
}

void TMegaRegistry::EndUpdate() {
  if (FUpdateCount == 0) return;
  --FUpdateCount;
  if (!FBackEnd) return;
  try {
    FBackEnd->EndUpdate();
  } catch (...) {
    if (FUpdateCount == 0) FHeldBounds.reset();
    throw;
  }
  if (FUpdateCount == 0 && FHeldBounds) FWrittenBounds = std::exchange(FHeldBounds, std::nullopt);
}

void TMegaRegistry::SetApp(const std::string& value) {
  CloseBackEnd();
  FApp = value;
}

void TMegaRegistry::SetCompany(const std::string& value) {
  CloseBackEnd();
  FCompany = value;
}

void TMegaRegistry::SetIniName(const std::string& value) {
  CloseBackEnd();
  FIniName = value;
}

void TMegaRegistry::SetPreference(TMRPreference value) {
  CloseBackEnd();
  FPreference = value;
}

TMRBackEndKind TMegaRegistry::KindForVersion(platform::DWORD version) {
  const platform::DWORD major = version & 0xFFu;
  const platform::DWORD minor = (version >> 8) & 0xFFu;
  return (major > 3 || (major == 3 && minor > 20)) ? bkRegistry : bkIni;
}

platform::DWORD TMegaRegistry::PlatformVersion() const {
  return platform::GetVersion();
}

TMRBackEndKind TMegaRegistry::ChosenBackEndKind() const {
  if (FApp.empty() || FCompany.empty() || FIniName.empty()) return bkNone;
  switch (FPreference) {
    case mrpIni:
      return bkIni;
    case mrpRegistry:
      return bkRegistry;
    case mrpAuto:
    default:
      return KindForVersion(PlatformVersion());
  }
}

TReadHold::TReadHold() : FHold(std::make_unique<platform::TFileReadHold>()) {}
TReadHold::~TReadHold() = default;

void TMegaRegistry::OpenBackEnd() {
  CloseBackEnd();
  FBackEndKind = ChosenBackEndKind();
  if (FBackEndKind == bkNone) return;
  if (FBackEndKind == bkIni) {
    FBackEnd = std::make_unique<TIniFile>(FIniName);
  } else {
    FBackEnd = std::make_unique<TWindowsRegistry>(FCompany, FApp);
  }
  for (int i = 0; i < FUpdateCount; ++i) FBackEnd->BeginUpdate();
}

void TMegaRegistry::CloseBackEnd() {
  if (!FBackEnd) return;
  // Another back end has none of the bounds this one stored.
  FHeldBounds.reset();
  FWrittenBounds.reset();
  // Closed whatever happens; what it holds is written first.
  const std::unique_ptr<TSettingsBackEnd> backEnd = std::move(FBackEnd);
  backEnd->WritePending();
}

std::vector<std::string> TMegaRegistry::BackEndProblems() const {
  if (!FBackEnd) return {};
  return FBackEnd->FileProblems();
}

bool TMegaRegistry::Holds(std::span<const TSettingText> values) const {
  return FBackEnd && FBackEnd->Holds(values);
}

std::vector<std::string> TMegaRegistry::ReadList(std::string_view section,
                                                 std::string_view key) const {
  return FBackEnd ? FBackEnd->ReadList(section, key) : std::vector<std::string>();
}

std::shared_ptr<const void> TMegaRegistry::Version() const {
  return FBackEnd ? FBackEnd->Version() : nullptr;
}

std::string TMegaRegistry::ReadText(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  if (!FBackEnd) return std::string(defaultValue);
  return FBackEnd->ReadText(section, key, defaultValue);
}

runtime::TResult<std::optional<std::string>> TMegaRegistry::TryReadText(
    std::string_view section, std::string_view key) const {
  if (!FBackEnd) return std::optional<std::string>();
  return FBackEnd->TryReadText(section, key);
}

std::int32_t TMegaRegistry::ReadInteger(std::string_view section, std::string_view key,
                                        std::int32_t defaultValue) const {
  if (!FBackEnd) return defaultValue;
  return FBackEnd->ReadInteger(section, key, defaultValue);
}

bool TMegaRegistry::ReadBool(std::string_view section, std::string_view key,
                             bool defaultValue) const {
  if (!FBackEnd) return defaultValue;
  return FBackEnd->ReadBool(section, key, defaultValue);
}

TFont TMegaRegistry::ReadFont(std::string_view section, std::string_view key,
                              const TFont& defaultFont) const {
  return FontFromText(ReadText(section, key, FontToText(defaultFont)));
}

void TMegaRegistry::WriteText(std::string_view section, std::string_view key,
                              std::string_view value) {
  if (FBackEnd) FBackEnd->WriteText(section, key, value);
}

void TMegaRegistry::WriteInteger(std::string_view section, std::string_view key,
                                 std::int32_t value) {
  if (FBackEnd) FBackEnd->WriteInteger(section, key, value);
}

void TMegaRegistry::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteInteger(section, key, value ? 1 : 0);
}

void TMegaRegistry::WriteFont(std::string_view section, std::string_view key, const TFont& font) {
  WriteText(section, key, FontToText(font));
}

std::string TMegaRegistry::ReadText(const TStoredKey& key) const {
  return ReadText(key.section, key.key, key.defaultValue != nullptr ? key.defaultValue : "");
}

bool TMegaRegistry::ReadBool(const TStoredKey& key) const {
  const bool defaultValue =
      key.defaultValue != nullptr && TryStrToInt(key.defaultValue).value_or(0) != 0;
  return ReadBool(key.section, key.key, defaultValue);
}

void TMegaRegistry::Loaded() {
  runtime::TComponent::Loaded();
  if (Designing()) return;
  OpenBackEnd();
  if (FSaveFormCoord) ReadFormCoord();
}

void TMegaRegistry::ReadFormCoord() {
  if (Owner() == nullptr) return;
  auto* form = dynamic_cast<TOwnerForm*>(Owner());
  if (form == nullptr) throw runtime::EInvalidCast("Invalid class typecast");
  FCoordSection = form->ClassName();
  // A value that cannot be read leaves that bound as it is; the others are
  // still read, and the failures are reported together at the end.
  std::string problems;
  const auto read = [&](const TStoredKey& stored, std::int32_t present, auto set) {
    try {
      set(ReadInteger(FCoordSection, stored.key, present));
    } catch (const runtime::EConvertError& error) {
      if (!problems.empty()) problems += '\n';
      problems += SettingProblemText(FCoordSection, stored.key,
                                     ReadText(FCoordSection, stored.key, ""), error.what());
    }
  };
  read(kWindowLeftKey, form->Left(), [form](std::int32_t value) { form->SetLeft(value); });
  read(kWindowTopKey, form->Top(), [form](std::int32_t value) { form->SetTop(value); });
  read(kWindowWidthKey, form->Width(), [form](std::int32_t value) { form->SetWidth(value); });
  read(kWindowHeightKey, form->Height(), [form](std::int32_t value) { form->SetHeight(value); });
  const std::vector<TRect> areas = form->WorkAreas();
  if (!areas.empty()) {
    // Wholly inside a screen that exists: bounds kept while that screen was
    // there, or from a larger screen, would leave the window partly out of
    // sight. A form without stored bounds stays where the desktop places it.
    bool stored = false;
    for (const TStoredKey* key : kWindowBoundsKeys) {
      stored = stored || !ReadText(FCoordSection, key->key, "").empty();
    }
    if (stored) {
      const std::int32_t extraWidth = form->FrameExtraWidth();
      const std::int32_t extraHeight = form->FrameExtraHeight();
      const TRect fitted = FitIntoWorkAreas(
          {form->Left(), form->Top(), form->Width() + extraWidth, form->Height() + extraHeight},
          areas);
      form->SetWidth(fitted.width - extraWidth);
      form->SetHeight(fitted.height - extraHeight);
      form->SetLeft(fitted.left);
      form->SetTop(fitted.top);
    }
  } else {
    // Keep the form reachable on the screen; its size is left as stored.
    if (form->Left() < 0) form->SetLeft(0);
    if (form->Top() < 0) form->SetTop(0);
    if (form->Left() > form->ScreenWidth()) form->SetLeft(form->ScreenWidth() - 20);
    if (form->Top() > form->ScreenHeight()) form->SetTop(form->ScreenHeight() - 20);
  }
  if (!problems.empty()) throw runtime::EConvertError(problems);
}

void TMegaRegistry::WriteFormCoord() {
  // Nothing to save when the bounds were never restored (no section to save
  // them under) or never recorded.
  if (FCoordSection.empty() || !FBoundsRecorded || !FBackEnd) return;
  const TBounds bounds{FLeft, FTop, FWidth, FHeight};
  // Stored already, with the rest of the settings at the window's closing.
  if (FWrittenBounds == bounds) return;
  // One write of the file for the four values.
  BeginUpdate();
  try {
    WriteInteger(FCoordSection, kWindowLeftKey.key, FLeft);
    WriteInteger(FCoordSection, kWindowTopKey.key, FTop);
    WriteInteger(FCoordSection, kWindowWidthKey.key, FWidth);
    WriteInteger(FCoordSection, kWindowHeightKey.key, FHeight);
  } catch (...) {
    EndUpdate();
    throw;
  }
  FHeldBounds = bounds;
  EndUpdate();
}

void TMegaRegistry::SaveFormBounds() {
  if (!FSaveFormCoord) return;
  RecordBounds();
  WriteFormCoord();
}

void TMegaRegistry::Notification(runtime::TComponent& component, runtime::TOperation operation) {
  runtime::TComponent::Notification(component, operation);
  if (operation == runtime::TOperation::opRemove) RecordBounds();
}

void TMegaRegistry::RecordBounds() {
  // An owner that is not (or no longer) a form has no bounds to record.
  if (const auto* form = dynamic_cast<const TOwnerForm*>(Owner())) {
    FLeft = form->Left();
    FTop = form->Top();
    FWidth = form->Width();
    FHeight = form->Height();
    FBoundsRecorded = true;
  }
}

void ConfigureProgramStore(TMegaRegistry& store) {
  store.SetApp("Pling");
  store.SetCompany("Corvid");
  store.SetIniName(kProgramIniName);
  store.SetPreference(mrpAuto);
}

}  // namespace pling::settings

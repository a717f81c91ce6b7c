// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every value the program keeps in its settings store, in one table: where it is
// stored (section and key), the text the program takes while it is absent, and
// what it means. The window, the network settings and pling-cli take their
// sections and keys from here, and `pling-cli settings list` prints the table.
// Plain data: no Qt, nothing to link.
//
// A new value: one constant below, and its name in kStoredKeys.
#include <array>
#include <string>

namespace pling::settings {

struct TStoredKey {
  const char* section;
  // The key; for a list (indexed) the stem that the entry's number follows.
  const char* key;
  // The stored text the program takes while the value is absent; nullptr where
  // the window's layout decides (sizes in pixels, the place on the screen).
  const char* defaultValue;
  const char* meaning;
  // A list: the keys key0, key1, ... up to the first absent or empty one.
  bool indexed = false;
};

// The key of entry `index` of a list (`key` indexed).
inline std::string IndexedKey(const TStoredKey& key, int index) {
  return key.key + std::to_string(index);
}

inline constexpr const char* kSettingsSection = "Settings";
// The main window's own section: its class name, under which the store keeps the
// window's place and size (TMegaRegistry with SaveFormCoord).
inline constexpr const char* kMainWindowSection = "TPlingFrm";

inline constexpr TStoredKey kReceiversKey{
    "Receivers", "NAME", "",
    "the receivers list in its order: each name followed by + (selected) or - (not)", true};

inline constexpr TStoredKey kReceivedFontKey{"ReceivedMemo", "Font",
                                             "MS Sans Serif;8;clWindowText;0100",
                                             "font of the received pane: face;size;colour;flags "
                                             "(1 or 0 for bold, italic, strike-out, underline)"};
inline constexpr TStoredKey kSendFontKey{"SendMemo", "Font", "MS Sans Serif;8;clWindowText;0000",
                                         "font of the send pane (as ReceivedMemo Font)"};
inline constexpr TStoredKey kReceiversFontKey{"ReceiversList", "Font",
                                              "MS Sans Serif;8;clWindowText;1000",
                                              "font of the receivers list (as ReceivedMemo Font)"};
inline constexpr TStoredKey kReceivedColorKey{
    "ReceivedMemo", "Color", "clWindow",
    "background of the received pane: a colour name or $00BBGGRR"};
inline constexpr TStoredKey kSendColorKey{"SendMemo", "Color", "clWindow",
                                          "background of the send pane"};
inline constexpr TStoredKey kReceiversColorKey{"ReceiversList", "Color", "clWindow",
                                               "background of the receivers list"};

inline constexpr TStoredKey kSplitKey{kSettingsSection, "Split", nullptr,
                                      "width of the receivers column in pixels"};
inline constexpr TStoredKey kUseServerKey{kSettingsSection, "UseServer", "0",
                                          "1: messages go through the server ServerName"};
inline constexpr TStoredKey kAutomaticSendKey{kSettingsSection, "AutomaticSend", "1",
                                              "1: Enter in the send pane sends"};
inline constexpr TStoredKey kServerNameKey{kSettingsSection, "ServerName", "<Server>",
                                           "the server that passes messages on (UseServer)"};
inline constexpr TStoredKey kPlayIncomingKey{kSettingsSection, "PlayIncoming", "0",
                                             "1: a sound for each incoming message"};
inline constexpr TStoredKey kRecvLineWrapKey{kSettingsSection, "RecvLineWrap", "0",
                                             "1: the received pane wraps long lines"};
inline constexpr TStoredKey kSendLineWrapKey{kSettingsSection, "SendLineWrap", "0",
                                             "1: the send pane wraps long lines"};
inline constexpr TStoredKey kPopupKey{kSettingsSection, "Popup", "1",
                                      "1: an incoming message brings the window up"};
inline constexpr TStoredKey kActiveKey{kSettingsSection, "Active", "0",
                                       "1: the window receives messages when it starts"};
inline constexpr TStoredKey kNetworkNoticeKey{
    kSettingsSection, "NetworkNotice", "",
    "why messages from other computers could not be received, as last shown"};

// The network: read once, before the messenger mailslot first opens.
inline constexpr TStoredKey kNetworkKey{kSettingsSection, "Network", "1",
                                        "0: every mailslot stays on this computer"};
inline constexpr TStoredKey kWinsServerKey{
    kSettingsSection, "WinsServer", "",
    "WINS server: IPv4 address or host name (empty: the Samba configuration's, if any)"};
inline constexpr TStoredKey kSessionMessagesKey{
    kSettingsSection, "SessionMessages", "1",
    "0: a message to another computer goes as a datagram only, never as a session message"};
inline constexpr TStoredKey kCommentKey{
    kSettingsSection, "Comment", "",
    "the comment this computer announces itself with (empty: \"Pling - USER\")"};

// The message history: read at start.
inline constexpr TStoredKey kHistoryKey{
    kSettingsSection, "History", "1",
    "0: no message is kept in the message history (and no history file is made)"};
inline constexpr TStoredKey kHistoryDaysKey{
    kSettingsSection, "HistoryDays", "365",
    "days a message stays in the message history (0: no age limit)"};
inline constexpr TStoredKey kHistoryMBKey{
    kSettingsSection, "HistoryMB", "200",
    "megabytes the message history file may take at most (0: no size limit)"};
inline constexpr TStoredKey kWindowLeftKey{kMainWindowSection, "Left", nullptr,
                                           "left edge of the main window"};
inline constexpr TStoredKey kWindowTopKey{kMainWindowSection, "Top", nullptr,
                                          "top edge of the main window"};
inline constexpr TStoredKey kWindowWidthKey{kMainWindowSection, "Width", nullptr,
                                            "width of the main window"};
inline constexpr TStoredKey kWindowHeightKey{kMainWindowSection, "Height", nullptr,
                                             "height of the main window"};

// Every stored value, in the order `pling-cli settings list` shows them.
// One a line, so that a new one is one more line.
// clang-format off
inline constexpr std::array kStoredKeys{
    &kReceiversKey,
    &kReceivedFontKey,
    &kSendFontKey,
    &kReceiversFontKey,
    &kReceivedColorKey,
    &kSendColorKey,
    &kReceiversColorKey,
    &kSplitKey,
    &kUseServerKey,
    &kAutomaticSendKey,
    &kServerNameKey,
    &kPlayIncomingKey,
    &kRecvLineWrapKey,
    &kSendLineWrapKey,
    &kPopupKey,
    &kActiveKey,
    &kNetworkNoticeKey,
    &kNetworkKey,
    &kWinsServerKey,
    &kSessionMessagesKey,
    &kCommentKey,
    &kHistoryKey,
    &kHistoryDaysKey,
    &kHistoryMBKey,
    &kWindowLeftKey,
    &kWindowTopKey,
    &kWindowWidthKey,
    &kWindowHeightKey,
};
// clang-format on

namespace stored_keys_detail {
constexpr bool SameName(const char* a, const char* b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  for (; *a != '\0' && lower(*a) == lower(*b); ++a, ++b) {
  }
  return lower(*a) == lower(*b);
}
constexpr bool EachKeyOnce() {
  for (std::size_t i = 0; i < kStoredKeys.size(); ++i) {
    for (std::size_t j = i + 1; j < kStoredKeys.size(); ++j) {
      if (SameName(kStoredKeys[i]->section, kStoredKeys[j]->section) &&
          SameName(kStoredKeys[i]->key, kStoredKeys[j]->key)) {
        return false;
      }
    }
  }
  return true;
}
}  // namespace stored_keys_detail
// Sections and keys are told apart without regard to case, as the store does.
static_assert(stored_keys_detail::EachKeyOnce(), "a section and key stand twice in kStoredKeys");

// The form's place and size, in the order the store reads and writes them.
inline constexpr std::array kWindowBoundsKeys{&kWindowLeftKey, &kWindowTopKey, &kWindowWidthKey,
                                              &kWindowHeightKey};

}  // namespace pling::settings

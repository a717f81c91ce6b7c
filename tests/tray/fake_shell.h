// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A notification area for the tests: records what the component hands to it and
// lets a test send the icon's callbacks.
#include <QMenu>
#include <string>
#include <vector>

#include "tray/TrayIcon.h"

namespace pling::tray::testing {

// Outlives the shell, which is freed with its component.
struct ShellRecord {
  std::vector<TNotifyIconData> Added, Modified, Deleted;
  std::vector<std::string>* Log = nullptr;  // "popup" lines go here too
  QMenu* PoppedMenu = nullptr;
  QPoint PoppedAt;
  int Popups = 0;
};

class FakeShell final : public ITrayShell {
 public:
  explicit FakeShell(ShellRecord& record) : FRecord(record) {}

  void SetSink(ITrayShellSink* sink) override { Sink = sink; }
  bool Add(const TNotifyIconData& data) override {
    FRecord.Added.push_back(data);
    return AddResult;
  }
  bool Modify(const TNotifyIconData& data) override {
    FRecord.Modified.push_back(data);
    return true;
  }
  bool Delete(const TNotifyIconData& data) override {
    FRecord.Deleted.push_back(data);
    return true;
  }
  bool TrayAvailable() const override { return Available; }
  QPoint CursorPos() const override { return Cursor; }
  TShiftState KeyboardState() const override { return Keys; }
  void Popup(QMenu& menu, QPoint at) override {
    ++FRecord.Popups;
    FRecord.PoppedMenu = &menu;
    FRecord.PoppedAt = at;
    if (FRecord.Log) FRecord.Log->push_back("popup");
  }

  void Send(TTrayMessage message) {
    if (Sink) Sink->WndProc(message);
  }
  void SetAvailable(bool value) {
    Available = value;
    Send(TTrayMessage::TrayAvailableChange);
  }

  ITrayShellSink* Sink = nullptr;
  bool AddResult = true;
  bool Available = true;
  QPoint Cursor{0, 0};
  TShiftState Keys = 0;

 private:
  ShellRecord& FRecord;
};

}  // namespace pling::tray::testing

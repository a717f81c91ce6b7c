// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's parts as screen readers see them through the desktop's
// accessibility bus: roles that the parts' classes cannot express, and the
// announcement of what happens without the keyboard focus (a message coming in).
#include <QAccessible>
#include <QLabel>
#include <QString>

class QWidget;

namespace pling::app {

// Gives `widget` the accessible role `role` in place of its class's. For the main
// window (a frame), the Start button (a check box, checked while it is down, whose
// one action, press, clicks it: it opens a menu and never toggles itself), the
// status line (a status bar) and the announcer (a notification). A widget without
// an accessible name is named by its text.
void SetAccessibleRole(QWidget& widget, QAccessible::Role role);

// A notification for screen readers: each Announce shows it anew with its text
// (its name, and a label inside it that holds the text), and a screen reader
// reads out a notification as it appears. It takes no room
// and draws nothing; it appears only while its window is shown.
class TAnnouncer : public QLabel {
  Q_OBJECT
 public:
  explicit TAnnouncer(QWidget* parent);
  void Announce(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* FContent;  // the text, as a child a screen reader reads out
};

}  // namespace pling::app

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The About window: three pages (instructions, remarks, and the program's name,
// icon, logo, version and scrolling credits). It puts the version of the
// running program file into a label and behind the first credits line, and
// shows the "About" page whenever it becomes the active window.
#include <QDialog>
#include <QString>
#include <QStringList>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QWidget;

namespace pling::about {

class TScrollText;

class TAboutFrm : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutFrm(QWidget* parent = nullptr);

  // Components, named as their object names.
  QTabWidget* PageControl;
  QWidget* Instructies;
  QPlainTextEdit* InstructionsMmo;
  QWidget* RemarksTbs;
  QPlainTextEdit* RemarksMmo;
  QWidget* AboutTbs;
  QLabel* Image1;
  QLabel* Label1;
  QLabel* VersionLbl;
  QLabel* Label2;
  QLabel* Image;
  QFrame* Bevel2;
  TScrollText* ScrollText1;

  // Handlers.
  void FormCreate();
  void FormActivate();

  // The texts of the pages and the credits as the window is made with them.
  static QString InstructionsText();
  static QString RemarksText();
  static QStringList CreditsLines();

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  int Px(int pixelsAt96) const;
  bool FCentred = false;
  double FFit = 1.0;  // how much smaller than designed the screen needs it
};

// Info1Click of the main window: a new About window, shown modally and
// released when its modal loop ends (also when showing it fails).
void ShowAboutWindow();

}  // namespace pling::about

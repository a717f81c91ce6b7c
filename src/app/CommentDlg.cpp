// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommentDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/PlingApplication.h"
#include "net/browse_frames.h"
#include "platform/identity.h"
#include "platform/neighbourhood.h"
#include "qtbridge/AnsiText.h"
#include "runtime/exceptions.h"
#include "settings/Megares.h"
#include "settings/NetworkSettings.h"
#include "settings/StoredKeys.h"

namespace pling::app {

namespace {

constexpr int kMaxComment = static_cast<int>(net::kMaxBrowseComment);

// The program's store, open (as the window and pling-cli open it).
void OpenProgramStore(settings::TMegaRegistry& store) {
  settings::ConfigureProgramStore(store);
  store.OpenBackEnd();
}

}  // namespace

TCommentDlg::TCommentDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("CommentDlg"));
  setWindowTitle(QStringLiteral("This Computer's Comment"));
  auto* prompt = new QLabel(
      QStringLiteral("&Comment other computers show beside this one's name (a short status):"),
      this);
  prompt->setWordWrap(true);
  FCommentEdt = new QLineEdit(this);
  FCommentEdt->setObjectName(QStringLiteral("CommentEdt"));
  FCommentEdt->setMaxLength(kMaxComment);
  FCommentEdt->setClearButtonEnabled(true);
  FCommentEdt->setPlaceholderText(
      qtbridge::FromAnsi(platform::DefaultBrowseComment(platform::GetUserName())));
  FCommentEdt->setAccessibleName(QStringLiteral("Comment"));
  FCommentEdt->setAccessibleDescription(
      QStringLiteral("Shown beside this computer's name in other computers' lists of the "
                     "network; at most %1 characters. Empty: \"%2\".")
          .arg(kMaxComment)
          .arg(FCommentEdt->placeholderText()));
  prompt->setBuddy(FCommentEdt);
  FNoteLbl = new QLabel(this);
  FNoteLbl->setObjectName(QStringLiteral("NoteLbl"));
  FNoteLbl->setWordWrap(true);
  FNoteLbl->setAccessibleName(QStringLiteral("Note"));
  FButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetMinimumSize);
  layout->addWidget(prompt);
  layout->addWidget(FCommentEdt);
  layout->addWidget(FNoteLbl);
  layout->addWidget(FButtons);
  connect(FButtons, &QDialogButtonBox::accepted, this, [this] {
    if (Store()) accept();
  });
  connect(FButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(FCommentEdt, &QLineEdit::textChanged, this, [this] { Check(); });
  try {
    settings::TMegaRegistry store(nullptr);
    OpenProgramStore(store);
    SetComment(qtbridge::FromAnsi(store.ReadText(settings::kCommentKey)));
  } catch (const std::exception&) {
    SetComment(QString());  // an unreadable store: the field starts empty
  }
  resize(420, sizeHint().height());
}

QString TCommentDlg::Comment() const {
  return FCommentEdt->text();
}

void TCommentDlg::SetComment(const QString& comment) {
  FCommentEdt->setText(comment);
  FCommentEdt->selectAll();
  Check();
}

void TCommentDlg::Check() {
  const std::string ansi = qtbridge::ToAnsi(Comment());
  QString note;
  bool fits = true;
  if (!platform::CommentFits(ansi)) {
    // An ellipsis goes as three dots, and so may not fit where its one character did.
    note = QStringLiteral(
               "Too long: an announcement carries at most %1 characters (\"\u2026\" "
               "counts as three).")
               .arg(kMaxComment);
    fits = false;
  } else if (qtbridge::FromAnsi(ansi) != Comment()) {
    note = QStringLiteral("Characters this computer's code page lacks go as \"?\".");
  }
  FNoteLbl->setText(note);
  FNoteLbl->setVisible(!note.isEmpty());
  FButtons->button(QDialogButtonBox::Ok)->setEnabled(fits);
  // Room for the note, without moving the field.
  layout()->activate();
  if (height() < sizeHint().height()) resize(width(), sizeHint().height());
}

bool TCommentDlg::Store() {
  const std::string comment = qtbridge::ToAnsi(Comment().trimmed());
  try {
    settings::TMegaRegistry store(nullptr);
    OpenProgramStore(store);
    store.BeginUpdate();
    store.WriteText(settings::kCommentKey.section, settings::kCommentKey.key, comment);
    store.EndUpdate();
  } catch (const std::exception& error) {
    ShowErrorMessage(this, QStringLiteral("The comment could not be stored: %1")
                               .arg(qtbridge::FromAnsi(error.what())));
    return false;
  }
  settings::CommentStored(comment);
  return true;
}

void EditComment(QWidget* parent) {
  TCommentDlg dialog(parent);
  dialog.exec();
}

}  // namespace pling::app

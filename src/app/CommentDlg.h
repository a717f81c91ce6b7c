// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The comment other computers see beside this one's name in their lists of the
// network (a short status: "In a meeting until 3"): a small dialog that shows the
// stored one (or, greyed, the default that goes while none is stored), stores
// what the user enters and has it announced at once (settings::CommentStored).
// The field takes no more than an announcement carries; OK stays off, with a
// note saying why, while the text would be cut on its way.
#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace pling::app {

class TCommentDlg : public QDialog {
  Q_OBJECT
 public:
  // Reads the stored comment into the field.
  explicit TCommentDlg(QWidget* parent);

  QString Comment() const;
  void SetComment(const QString& comment);
  // Stores the field's text in the program's settings and announces it; false,
  // with the error shown over this dialog, when it could not be stored.
  bool Store();

 private:
  void Check();

  QLineEdit* FCommentEdt;
  QLabel* FNoteLbl;
  QDialogButtonBox* FButtons;
};

// Opens the dialog over `parent`; on OK stores and announces the comment.
void EditComment(QWidget* parent);

}  // namespace pling::app

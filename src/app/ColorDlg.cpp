// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ColorDlg.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>

namespace pling::app {

QColor ChooseColor(QWidget* owner, const QColor& initial, const QString& title) {
  QDialog dialog(owner);
  dialog.setObjectName(QStringLiteral("ColorDlg"));
  dialog.setWindowTitle(title.isEmpty() ? QStringLiteral("Select Color") : title);
  auto* picker = new QColorDialog(initial);
  picker->setOptions(QColorDialog::DontUseNativeDialog | QColorDialog::NoButtons);
  picker->setWindowFlags(Qt::Widget);
  auto* scroll = new QScrollArea(&dialog);
  scroll->setWidget(picker);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(scroll);
  layout->addWidget(buttons);

  // The room for a dialog on the owner's screen, the window manager's frame as
  // it frames the owner taken off, against the whole picker with its buttons.
  const QWidget* window = owner != nullptr ? owner->window() : nullptr;
  const QScreen* screen = window != nullptr ? window->screen() : QGuiApplication::primaryScreen();
  QSize room = screen != nullptr ? screen->availableGeometry().size() : QSize();
  if (window != nullptr) room -= window->frameGeometry().size() - window->geometry().size();
  const QMargins margins = layout->contentsMargins();
  const QSize whole =
      picker->sizeHint() +
      QSize(margins.left() + margins.right(),
            margins.top() + margins.bottom() + layout->spacing() + buttons->sizeHint().height());
  if (screen == nullptr || (whole.width() <= room.width() && whole.height() <= room.height()))
    return QColorDialog::getColor(initial, owner, title);
  dialog.resize(whole.boundedTo(room));
  if (dialog.exec() != QDialog::Accepted) return QColor();
  return picker->currentColor();
}

}  // namespace pling::app

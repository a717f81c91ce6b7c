// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DialogPlacement.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace pling::app {
namespace {

class TDialogPlacement final : public QObject {
 public:
  explicit TDialogPlacement(QWidget& window) : QObject(&window), FWindow(&window) {
    qApp->installEventFilter(this);
  }

  // Before the dialog's own show handler, which centres it (QDialog::showEvent).
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show || event->spontaneous()) return false;
    auto* dialog = qobject_cast<QDialog*>(watched);
    if (dialog == nullptr || !dialog->isWindow() || !FWindow) return false;
    const QWidget* owner = dialog->parentWidget() != nullptr ? dialog->parentWidget()->window()
                           : FWindow->isActiveWindow()       ? FWindow.data()
                                                             : nullptr;
    if (owner != FWindow || owner->screen() == nullptr) return false;
    Fit(*dialog, *owner);
    return false;
  }

 private:
  static void Fit(QDialog& dialog, const QWidget& owner) {
    QScreen* screen = owner.screen();
    if (dialog.screen() != screen) dialog.setScreen(screen);
    // The window manager's frame as it frames the window (none known yet for a
    // dialog that was never shown).
    const QSize frame = owner.frameGeometry().size() - owner.geometry().size();
    const QSize room = screen->availableGeometry().size() - frame.expandedTo(QSize(0, 0));
    const QSize size = dialog.size();
    if (size.width() <= room.width() && size.height() <= room.height()) return;
    dialog.resize(size.boundedTo(room).expandedTo(dialog.minimumSize()));
  }

  QPointer<QWidget> FWindow;
};

}  // namespace

void FitDialogsToScreen(QWidget& window) {
  new TDialogPlacement(window);
}

}  // namespace pling::app

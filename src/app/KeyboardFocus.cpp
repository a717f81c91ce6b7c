// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/KeyboardFocus.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

namespace pling::app {
namespace {

class TEnterPresses final : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || key->isAutoRepeat())
      return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    // Later, as a click by the mouse comes: the button may open a menu that runs
    // its own event loop.
    QPointer<QAbstractButton> button = qobject_cast<QAbstractButton*>(watched);
    QTimer::singleShot(0, button, [button] {
      if (button) button->click();
    });
    return true;
  }
};

class TDialogFocus final : public QObject {
 public:
  explicit TDialogFocus(QWidget& window) : QObject(&window), FWindow(&window) {
    qApp->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::Show && type != QEvent::Hide) return false;
    auto* dialog = qobject_cast<QWidget*>(watched);
    if (dialog == nullptr || !FWindow || !dialog->isWindow() || dialog == FWindow ||
        qobject_cast<QMenu*>(dialog) != nullptr ||
        (dialog->windowType() != Qt::Dialog && dialog->windowType() != Qt::Sheet))
      return false;
    if (type == QEvent::Show) {
      // A dialog over the window, or one without an owner (the About window)
      // opened from it.
      const QWidget* owner = dialog->parentWidget();
      if (owner != nullptr ? owner->window() == FWindow : FWindow->isActiveWindow())
        FFocus.insert(dialog, QPointer<QWidget>(FWindow->focusWidget()));
      return false;
    }
    if (!FFocus.contains(dialog)) return false;
    const QPointer<QWidget> focus = FFocus.take(dialog);
    // Once the dialog is gone: the window manager moves the focus as it unmaps.
    QTimer::singleShot(0, this, [this, focus] {
      if (!FWindow || !FWindow->isVisible() || FWindow->isMinimized()) return;
      if (QApplication::activeModalWidget() != nullptr) return;  // another dialog is up
      FWindow->activateWindow();
      if (focus && focus->window() == FWindow) focus->setFocus(Qt::OtherFocusReason);
    });
    return false;
  }

 private:
  QPointer<QWidget> FWindow;
  QHash<QWidget*, QPointer<QWidget>> FFocus;
};

}  // namespace

void PressOnEnter(QAbstractButton& button) {
  button.installEventFilter(new TEnterPresses(&button));
}

void StyleStartButton(QToolButton& button) {
  // Down means listening: make that state plain to see in every widget style.
  button.setStyleSheet(QStringLiteral(
      "QToolButton { border: 1px solid palette(mid); border-radius: 2px;"
      " background: palette(button); padding: 1px 4px; }"
      "QToolButton:hover { border-color: palette(dark); }"
      "QToolButton:checked { background: palette(midlight); border: 2px inset palette(shadow); }"
      "QToolButton:focus { border: 2px solid palette(highlight); }"
      "QToolButton:checked:focus { border: 2px inset palette(highlight); }"));
  PressOnEnter(button);
}

void ReturnFocusAfterDialogs(QWidget& window) {
  new TDialogFocus(window);
}

}  // namespace pling::app

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Accessibility.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace pling::app {
namespace {

constexpr char kRoleProperty[] = "plingAccessibleRole";

class TRoleAccessible : public QAccessibleWidget {
 public:
  TRoleAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

  QString text(QAccessible::Text kind) const override {
    const QString text = QAccessibleWidget::text(kind);
    if (kind == QAccessible::Name && text.isEmpty()) {
      if (const auto* label = qobject_cast<const QLabel*>(widget())) return label->text();
    }
    return text;
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    if (const auto* button = Button()) {
      // A toggle is checked while it stands for something on (its class's own
      // interface may say otherwise); pressed only while it is held down.
      state.checkable = button->isCheckable();
      state.checked = button->isChecked();
      state.pressed = button->isDown();
    }
    return state;
  }

  QStringList actionNames() const override {
    QStringList names = QAccessibleWidget::actionNames();
    if (Button() != nullptr) names.prepend(pressAction());
    return names;
  }

  void doAction(const QString& action) override {
    if (QAbstractButton* button = Button(); button != nullptr && action == pressAction()) {
      button->click();
      return;
    }
    QAccessibleWidget::doAction(action);
  }

 private:
  QAbstractButton* Button() const {
    return role() == QAccessible::PushButton || role() == QAccessible::CheckBox
               ? qobject_cast<QAbstractButton*>(widget())
               : nullptr;
  }
};

QAccessibleInterface* RoleFactory(const QString& /*className*/, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (widget == nullptr) return nullptr;
  const QVariant role = widget->property(kRoleProperty);
  if (!role.isValid()) return nullptr;
  return new TRoleAccessible(widget, static_cast<QAccessible::Role>(role.toInt()));
}

// A label that holds a text for screen readers only.
class TSilentLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {}
};

}  // namespace

void SetAccessibleRole(QWidget& widget, QAccessible::Role role) {
  static const bool installed = [] {
    QAccessible::installFactory(RoleFactory);
    return true;
  }();
  (void)installed;
  widget.setProperty(kRoleProperty, static_cast<int>(role));
  // An interface made before (by an event of the widget's making, while a screen
  // reader listens) would stand for the widget for good: it goes, and the next
  // question makes one with the role.
  QAccessibleInterface* present = QAccessible::queryAccessibleInterface(&widget);
  if (present != nullptr && dynamic_cast<TRoleAccessible*>(present) == nullptr)
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(present));
}

TAnnouncer::TAnnouncer(QWidget* parent) : QLabel(parent), FContent(new TSilentLabel(this)) {
  SetAccessibleRole(*this, QAccessible::Notification);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(0, 0, 1, 1);
  // The notification's content as a text of its own: what a braille display and
  // a screen reader's history of notifications take.
  FContent->setObjectName(QStringLiteral("AnnouncementText"));
  FContent->setGeometry(0, 0, 1, 1);
  hide();
}

void TAnnouncer::Announce(const QString& text) {
  setText(text);
  FContent->setText(text);
  FContent->setAccessibleName(text);
  // Appearing is what a screen reader announces: hidden first, if it was shown.
  if (!isHidden()) hide();
  show();
}

void TAnnouncer::paintEvent(QPaintEvent* /*event*/) {}

}  // namespace pling::app

#include "app/Controls.h"

#include <QApplication>
#include <QCollator>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextLayout>
#include <algorithm>

#include "app/QtAdapters.h"

namespace pling::app {

// ---------------------------------------------------------------------------
// TAligner, TPanel

void TAligner::Realign(QRect area) const {
  int left = area.left(), top = area.top();
  int right = area.left() + area.width(), bottom = area.top() + area.height();
  for (const TChild& child : FChildren) {
    QWidget* w = child.Widget;
    if (w->isHidden()) continue;
    switch (child.Align) {
      case TAlign::alBottom: {
        const int h = w->height();
        w->setGeometry(left, bottom - h, std::max(0, right - left), h);
        bottom -= h;
        break;
      }
      case TAlign::alRight: {
        const int wd = w->width();
        w->setGeometry(right - wd, top, wd, std::max(0, bottom - top));
        right -= wd;
        break;
      }
      case TAlign::alClient:
      case TAlign::alNone:
        break;
    }
  }
  for (const TChild& child : FChildren) {
    if (child.Align == TAlign::alClient && !child.Widget->isHidden())
      child.Widget->setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
  }
}

TPanel::TPanel(QWidget* parent) : QWidget(parent) {}

void TPanel::SetBorderWidth(int value) {
  if (value == FBorderWidth) return;
  FBorderWidth = value;
  Realign();
}

QRect TPanel::AlignRect() const {
  return rect().adjusted(FBorderWidth, FBorderWidth, -FBorderWidth, -FBorderWidth);
}

void TPanel::Realign() {
  FAligner.Realign(AlignRect());
}

void TPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Realign();
  if (OnResize) OnResize();
}

// ---------------------------------------------------------------------------
// TSplitter

TSplitter::TSplitter(TAlign align, QWidget* parent) : QWidget(parent), FAlign(align) {
  setCursor(align == TAlign::alBottom ? Qt::SplitVCursor : Qt::SplitHCursor);
}

int TSplitter::ResizedSize() const {
  if (FResized == nullptr) return 0;
  return FAlign == TAlign::alBottom ? FResized->height() : FResized->width();
}

int TSplitter::Position(const QPoint& global) const {
  return FAlign == TAlign::alBottom ? global.y() : global.x();
}

void TSplitter::MoveBy(int delta) {
  if (FResized == nullptr) return;
  const int start = ResizedSize();
  const int client =
      FClient == nullptr ? 0 : (FAlign == TAlign::alBottom ? FClient->height() : FClient->width());
  // The resized control is on the far side: moving towards it makes it smaller.
  int size = start - delta;
  size = std::min(size, start + client - FMinSize);
  size = std::max(size, FMinSize);
  if (size == start) return;
  if (FAlign == TAlign::alBottom) {
    FResized->resize(FResized->width(), size);
  } else {
    FResized->resize(size, FResized->height());
  }
  if (OnRealign) OnRealign();
}

void TSplitter::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  FDragging = true;
  FDragStart = Position(event->globalPosition().toPoint());
  FSizeAtStart = ResizedSize();
}

void TSplitter::mouseMoveEvent(QMouseEvent* event) {
  if (!FDragging) return QWidget::mouseMoveEvent(event);
  const int delta = Position(event->globalPosition().toPoint()) - FDragStart;
  // Measured from the press, so that a clamped drag comes back with the pointer.
  MoveBy(delta - (FSizeAtStart - ResizedSize()));
}

void TSplitter::mouseReleaseEvent(QMouseEvent* event) {
  if (!FDragging || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  FDragging = false;
  if (OnMoved) OnMoved();
}

// ---------------------------------------------------------------------------
// TPaneColors

TPaneColors::TPaneColors(QAbstractScrollArea* area) : QObject(area), FArea(area) {
  area->viewport()->installEventFilter(this);
}

void TPaneColors::SetColor(settings::TColor value) {
  FColor = value;
  Apply();
}

void TPaneColors::SetTextColor(settings::TColor value) {
  FTextColor = value;
  Apply();
}

void TPaneColors::Apply() {
  // The desktop's palette for this kind of widget, not the area's own (which
  // holds the colours resolved last time).
  const QPalette system = QApplication::palette(FArea);
  const QColor base = ToQColor(FColor, system);
  const QColor text = ToQColor(FTextColor, system);
  QPalette palette = FArea->palette();
  if (palette.color(QPalette::Active, QPalette::Base) == base &&
      palette.color(QPalette::Inactive, QPalette::Base) == base &&
      palette.color(QPalette::Active, QPalette::Text) == text &&
      palette.color(QPalette::Inactive, QPalette::Text) == text) {
    return;
  }
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Base, base);
    palette.setColor(group, QPalette::Text, text);
  }
  FArea->setPalette(palette);
}

bool TPaneColors::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FArea->viewport() && event->type() == QEvent::Paint) Apply();
  return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// TMemo

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent), FColors(new TPaneColors(this)) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  SetWordWrap(false);
  FColors->Apply();
}

void TMemo::SetCoreFont(const settings::TFont& value) {
  FCoreFont = value;
  setFont(ToQFont(value));
  FColors->SetTextColor(value.Color);
}

void TMemo::SetWordWrap(bool value) {
  FWordWrap = value;
  setLineWrapMode(value ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(value ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
}

int TMemo::LineCount() const {
  const QTextDocument* doc = document();
  // An empty pane, or an empty line after the final line break, is no line.
  int count = 0;
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    if (!block.next().isValid() && block.text().isEmpty()) break;
    const QTextLayout* layout = block.layout();
    count += (FWordWrap && layout != nullptr && layout->lineCount() > 0) ? layout->lineCount() : 1;
  }
  return count;
}

void TMemo::keyPressEvent(QKeyEvent* event) {
  if (OnKeyPress) OnKeyPress(*event);
  QPlainTextEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------------------
// TListBox

namespace {

// Items ordered as the list box sorts: the locale's order, letter case ignored.
class TSortedItem : public QListWidgetItem {
 public:
  using QListWidgetItem::QListWidgetItem;
  bool operator<(const QListWidgetItem& other) const override {
    static const QCollator collator = [] {
      QCollator c;
      c.setCaseSensitivity(Qt::CaseInsensitive);
      return c;
    }();
    return collator.compare(text(), other.text()) < 0;
  }
};

// Rows at least the list's item height, taller only when the font needs it.
class TItemHeightDelegate : public QStyledItemDelegate {
 public:
  TItemHeightDelegate(const int& height, QObject* parent)
      : QStyledItemDelegate(parent), FHeight(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(FHeight, option.fontMetrics.height()));
    return size;
  }

 private:
  const int& FHeight;
};

}  // namespace

TListBox::TListBox(QWidget* parent) : QListWidget(parent), FColors(new TPaneColors(this)) {
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSortingEnabled(true);
  setUniformItemSizes(true);
  setItemDelegate(new TItemHeightDelegate(FItemHeight, this));
  FColors->Apply();
}

void TListBox::SetCoreFont(const settings::TFont& value) {
  FCoreFont = value;
  setFont(ToQFont(value));
  FColors->SetTextColor(value.Color);
}

void TListBox::SetItemHeight(int value) {
  FItemHeight = value;
  doItemsLayout();
}

int TListBox::AddItem(const QString& text) {
  auto* item = new TSortedItem(text);
  addItem(item);
  return row(item);
}

QStringList TListBox::Items() const {
  QStringList items;
  for (int i = 0; i < count(); ++i) items << item(i)->text();
  return items;
}

bool TListBox::Selected(int index) const {
  const QListWidgetItem* it = item(index);
  return it != nullptr && it->isSelected();
}

void TListBox::SetSelected(int index, bool value) {
  if (QListWidgetItem* it = item(index)) it->setSelected(value);
}

int TListBox::SelCount() const {
  return static_cast<int>(selectedItems().size());
}

}  // namespace pling::app

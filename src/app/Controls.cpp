// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Controls.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCollator>
#include <QContextMenuEvent>
#include <QEvent>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QScrollBar>
#include <QStringTokenizer>
#include <QStyledItemDelegate>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <numeric>
#include <string>
#include <unordered_set>

#include "app/PlingApplication.h"
#include "qtbridge/AnsiText.h"
#include "qtbridge/QtColor.h"
#include "qtbridge/QtFont.h"

namespace pling::app {

// ---------------------------------------------------------------------------
// TAligner, TPanel

void TAligner::Realign(QRect area) const {
  int left = area.left(), top = area.top();
  int right = area.left() + area.width(), bottom = area.top() + area.height();
  for (const TChild& child : FChildren) {
    QWidget* w = child.widget;
    if (w->isHidden()) continue;
    switch (child.align) {
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
    if (child.align == TAlign::alClient && !child.widget->isHidden())
      child.widget->setGeometry(left, top, std::max(0, right - left), std::max(0, bottom - top));
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

TPaneColors::TPaneColors(QAbstractScrollArea* area)
    : QObject(area), FArea(area), FViewport(area->viewport()) {
  FViewport->installEventFilter(this);
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
  const QColor base = qtbridge::ResolveColor(FColor, system);
  const QColor text = qtbridge::ResolveColor(FTextColor, system);
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
  // The viewport is compared by address: while the area is torn down its events
  // still come here, and the area is no scroll area any more.
  if (watched == FViewport && event->type() == QEvent::Paint) Apply();
  return QObject::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Keyboard menus

bool IsKeyboardMenuRequest(const QEvent& event) {
  if (event.type() == QEvent::KeyPress) {
    const auto& key = static_cast<const QKeyEvent&>(event);
    return key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier;
  }
  return event.type() == QEvent::ContextMenu &&
         static_cast<const QContextMenuEvent&>(event).reason() == QContextMenuEvent::Keyboard;
}

namespace {

// Whether `event` tells of a new desktop font (or theme) that a control showing
// `font` follows.
bool FollowsDesktopFont(const QEvent& event, const settings::TFont& font) {
  return (event.type() == QEvent::ApplicationFontChange || event.type() == QEvent::ThemeChange) &&
         qtbridge::IsDesignFont(font);
}

}  // namespace

// ---------------------------------------------------------------------------
// TMemo

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent), FColors(new TPaneColors(this)) {
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Tab leaves the pane, as it leaves every other control.
  setTabChangesFocus(true);
  SetWordWrap(false);
  FColors->Apply();
}

void TMemo::SetCoreFont(const settings::TFont& value) {
  FCoreFont = value;
  setFont(qtbridge::DisplayFont(value));
  FColors->SetTextColor(value.color);
}

bool TMemo::event(QEvent* event) {
  // The pane's menu opens at the caret.
  if (IsKeyboardMenuRequest(*event) && contextMenuPolicy() == Qt::CustomContextMenu) {
    event->accept();
    emit customContextMenuRequested(cursorRect().center());
    return true;
  }
  // The desktop's font changed: a pane that follows it takes the new one.
  if (FollowsDesktopFont(*event, FCoreFont)) setFont(qtbridge::DisplayFont(FCoreFont));
  return QPlainTextEdit::event(event);
}

void TMemo::SetWordWrap(bool value) {
  FWordWrap = value;
  FLayoutStale = true;
  setLineWrapMode(value ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(value ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
}

void TMemo::LayOutChangedBlocks() const {
  // Laying a block out sets its line count, which the document adds up. The pane
  // lays out only what it shows; count the rest here. After a change of width,
  // font or wrap state every block is laid out again; otherwise only blocks that
  // changed since can lack a layout: new ones at the end and a shortened first one.
  const QTextDocument* doc = document();
  QAbstractTextDocumentLayout* layout = doc->documentLayout();
  const auto layOut = [layout](const QTextBlock& block) {
    if (block.layout() != nullptr && block.layout()->lineCount() == 0)
      layout->blockBoundingRect(block);
  };
  if (FLayoutStale) {
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) layOut(block);
    FLayoutStale = false;
    return;
  }
  for (QTextBlock block = doc->lastBlock();
       block.isValid() && block.layout() != nullptr && block.layout()->lineCount() == 0;
       block = block.previous()) {
    layOut(block);
  }
  layOut(doc->firstBlock());
}

int TMemo::LineCount() const {
  const QTextDocument* doc = document();
  // Without wrapping every block is one line, laid out or not.
  if (FWordWrap) LayOutChangedBlocks();
  int count = FWordWrap ? doc->lineCount() : doc->blockCount();
  const QTextBlock last = doc->lastBlock();
  if (last.text().isEmpty()) count -= FWordWrap ? std::max(last.lineCount(), 1) : 1;
  return std::max(count, 0);
}

void TMemo::AppendLines(const QString& text, int maxLines) {
  const int first = document()->blockCount() - 1;  // an empty pane's block takes the first line
  // A few lines (a message or two) go in one at a time, each taking the oldest
  // block's place as a pane with a block limit does: the pane then scrolls by a
  // line and paints the new one instead of all it shows. More lines go in as one
  // edit, painted once. (A block limit turns undo off: only for a pane without.)
  if (!isUndoRedoEnabled() && text.count(QLatin1Char('\n')) < kLinesAppendedApart) {
    for (const QStringView line : QStringTokenizer(text, u'\n'))
      AppendLine(line.toString(), maxLines);
    TrimToLines(maxLines);
    return;
  }
  appendPlainText(text);
  // The pane lays out the new blocks it shows at once (the last ones, when it
  // follows the end), so the count's walk back from the end would stop there:
  // every new block is laid out here.
  if (FWordWrap) {
    QAbstractTextDocumentLayout* layout = document()->documentLayout();
    for (QTextBlock block = document()->findBlockByNumber(first); block.isValid();
         block = block.next()) {
      if (block.layout() != nullptr && block.layout()->lineCount() == 0)
        layout->blockBoundingRect(block);
    }
  }
  TrimToLines(maxLines);
}

void TMemo::AppendLine(const QString& line, int maxLines) {
  // The oldest block goes with the new line when the lines after it, with the new
  // one, still fill the pane. The plain text pane removes a block over its limit
  // while appending without repainting what it shows, when that block is out of
  // sight; the limit is set for this one append only.
  QTextDocument* doc = document();
  const int lines = LineCount();  // lays the first block out too
  const int firstLines = FWordWrap ? std::max(doc->firstBlock().lineCount(), 1) : 1;
  const bool dropFirst = doc->blockCount() > 1 && lines + 1 - firstLines >= maxLines;
  if (dropFirst) doc->setMaximumBlockCount(doc->blockCount());
  appendPlainText(line);
  if (dropFirst) doc->setMaximumBlockCount(0);
  // Laid out now, so that the next count's walk back from the end finds it.
  const QTextBlock last = doc->lastBlock();
  if (FWordWrap && last.layout() != nullptr && last.layout()->lineCount() == 0)
    doc->documentLayout()->blockBoundingRect(last);
}

void TMemo::TrimToLines(int maxLines) {
  // The oldest display lines go, also partway through a block, in one edit.
  // Without wrapping a line is a block. With wrapping, whole leading blocks go
  // while the surplus covers them, then the first lines of the next block up to
  // where its kept lines begin: that block is laid out once more, not once per
  // line removed (which made a long wrapped message cost its size squared).
  QTextDocument* doc = document();
  if (const int surplus = LineCount() - maxLines; surplus > 0) {
    int end = 0;
    if (!FWordWrap) {
      end = doc->findBlockByNumber(std::min(surplus, doc->blockCount() - 1)).position();
    } else {
      int left = surplus;
      QTextBlock block = doc->firstBlock();
      for (; block.next().isValid(); block = block.next()) {
        const int lines = std::max(block.lineCount(), 1);
        if (lines > left) break;
        left -= lines;
      }
      end = block.position();
      const QTextLayout* layout = block.layout();
      if (left > 0 && layout != nullptr && layout->lineCount() > left)
        end += layout->lineAt(left).textStart();
    }
    if (end > 0) {
      QTextCursor cursor(doc);
      cursor.setPosition(end, QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
    }
  }
  // Should the layout have moved, the rest goes one display line at a time.
  while (LineCount() > maxLines) {
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
    if (cursor.atBlockEnd())
      cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
    if (!cursor.hasSelection()) break;
    cursor.removeSelectedText();
  }
}

bool TMemo::Fits(qsizetype length) const {
  if (FCapacity <= 0) return true;
  const qsizetype present = document()->characterCount() - 1;  // without the final paragraph mark
  const qsizetype replaced = textCursor().selectionEnd() - textCursor().selectionStart();
  return present - replaced + length <= FCapacity;
}

void TMemo::insertFromMimeData(const QMimeData* source) {
  if (source != nullptr && source->hasText() && !Fits(source->text().size())) {
    ShowErrorMessage(window(), QStringLiteral("Text exceeds memo capacity"));
    return;
  }
  QPlainTextEdit::insertFromMimeData(source);
}

void TMemo::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  FLayoutStale = true;
}

void TMemo::changeEvent(QEvent* event) {
  QPlainTextEdit::changeEvent(event);
  if (event->type() == QEvent::FontChange) FLayoutStale = true;
}

void TMemo::keyPressEvent(QKeyEvent* event) {
  // Ctrl+Tab types the tab that Tab no longer types.
  if (event->key() == Qt::Key_Tab && event->modifiers() == Qt::ControlModifier && !isReadOnly()) {
    insertPlainText(QStringLiteral("\t"));
    event->accept();
    return;
  }
  if (OnKeyPress) OnKeyPress(*event);
  // Shift+Enter breaks the line as Enter does. (The editor would put a line
  // separator inside the paragraph, a character that no code page holds.)
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & Qt::ShiftModifier)) {
    QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                    event->text(), event->isAutoRepeat(), static_cast<ushort>(event->count()));
    QPlainTextEdit::keyPressEvent(&plain);
    event->setAccepted(plain.isAccepted());
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------------------
// TListBox

namespace {

// The list box's order: the locale's, letter case ignored.
const QCollator& ListCollator() {
  static const QCollator collator = [] {
    QCollator c;
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
  }();
  return collator;
}

// QString::toCaseFolded, at once for ASCII text (names mostly are).
QString CaseFolded(const QString& text) {
  if (!qtbridge::IsAscii(text)) return text.toCaseFolded();
  QString folded(text.size(), Qt::Uninitialized);
  std::transform(text.begin(), text.end(), folded.begin(), [](QChar c) {
    return c.unicode() >= 'A' && c.unicode() <= 'Z' ? QChar(c.unicode() + 32) : c;
  });
  return folded;
}

// What the C locale's comparison with case ignored compares: each UTF-16 unit
// case folded, a low surrogate after a high one as the folded character of the
// pair, compared as numbers and then by length. Keys made once a name make a sort
// of many names cheap, and put them in the very order of that comparison.
std::u32string FoldedUnits(QStringView text) {
  std::u32string key;
  key.reserve(static_cast<std::size_t>(text.size()));
  char32_t last = 0;
  for (const QChar unit : text) {
    char32_t code = unit.unicode();
    if (QChar::isLowSurrogate(code) && QChar::isHighSurrogate(last))
      code = QChar::surrogateToUcs4(static_cast<char16_t>(last), static_cast<char16_t>(code));
    last = unit.unicode();
    key.push_back(QChar::toCaseFolded(code));
  }
  return key;
}

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
  // The list box keeps its order itself (AddItem, AddItems): the view's own
  // sorting would place items one at a time.
  setSortingEnabled(false);
  setUniformItemSizes(true);
  setItemDelegate(new TItemHeightDelegate(FItemHeight, this));
  FColors->Apply();
  // The hash of texts follows every change of the items, whoever makes it.
  QAbstractItemModel* items = model();
  connect(items, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { IndexRows(first, last, 1); });
  connect(items, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex&, int first, int last) { IndexRows(first, last, -1); });
  connect(items, &QAbstractItemModel::modelReset, this, [this] { RebuildIndex(); });
  connect(items, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
            if (roles.isEmpty() || roles.contains(Qt::DisplayRole)) RebuildIndex();
          });
  // What Changes() counts: texts, order and selection; not the items' marks.
  const auto changed = [this] { ++FChanges; };
  connect(items, &QAbstractItemModel::rowsInserted, this, changed);
  connect(items, &QAbstractItemModel::rowsRemoved, this, changed);
  connect(items, &QAbstractItemModel::rowsMoved, this, changed);
  connect(items, &QAbstractItemModel::modelReset, this, changed);
  connect(items, &QAbstractItemModel::layoutChanged, this, changed);
  connect(
      items, &QAbstractItemModel::dataChanged, this,
      [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
        if (roles.isEmpty() || roles.contains(Qt::DisplayRole) || roles.contains(Qt::EditRole)) {
          ++FChanges;
        }
      });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, changed);
}

TListBox::~TListBox() {
  // The items go after this part of the list box is gone: their removal must
  // not reach the hash any more.
  disconnect(model(), nullptr, this, nullptr);
}

void TListBox::IndexRows(int first, int last, int delta) const {
  if (!FFolded) return;  // made at the first look-up
  for (int i = first; i <= last; ++i) {
    const QListWidgetItem* it = item(i);
    if (it == nullptr) continue;
    const QString folded = CaseFolded(it->text());
    if (delta > 0) {
      ++(*FFolded)[folded];
    } else if (auto found = FFolded->find(folded); found != FFolded->end() && --*found <= 0) {
      FFolded->erase(found);
    }
  }
}

void TListBox::RebuildIndex() {
  FFolded.reset();
}

bool TListBox::ContainsText(const QString& text) const {
  return IndexOfText(text) >= 0;
}

int TListBox::IndexOfText(const QString& text) const {
  // Texts equal with case ignored have equal case folds: a text whose fold is
  // not there is in no item.
  if (!FFolded) {
    FFolded.emplace();
    IndexRows(0, count() - 1, 1);
  }
  if (!FFolded->contains(CaseFolded(text))) return -1;
  const auto same = [&text](const QListWidgetItem* it) {
    return QString::compare(it->text(), text, Qt::CaseInsensitive) == 0;
  };
  // The first item that does not sort before the text, then the items that sort
  // as equal to it.
  const QCollator& collator = ListCollator();
  for (int i = SortedRow(text); i < count() && collator.compare(item(i)->text(), text) == 0; ++i) {
    if (same(item(i))) return i;
  }
  // An item out of the sort order (its text changed after it was placed).
  for (int i = 0; i < count(); ++i) {
    if (same(item(i))) return i;
  }
  return -1;
}

bool TListBox::event(QEvent* event) {
  // The list's menu opens at the current item; without one, at a point where no
  // item is, so that it acts on none.
  if (IsKeyboardMenuRequest(*event) && contextMenuPolicy() == Qt::CustomContextMenu) {
    event->accept();
    const QModelIndex current = currentIndex();
    emit customContextMenuRequested(current.isValid() ? visualRect(current).center()
                                                      : QPoint(-1, -1));
    return true;
  }
  if (FollowsDesktopFont(*event, FCoreFont)) setFont(qtbridge::DisplayFont(FCoreFont));
  return QListWidget::event(event);
}

void TListBox::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (event->key() == Qt::Key_Space && modifiers == Qt::NoModifier) {
    // Space selects the current item, or takes it out of the selection.
    if (const QModelIndex current = currentIndex(); current.isValid())
      selectionModel()->select(current, QItemSelectionModel::Toggle);
    event->accept();
    return;
  }
  CursorAction move{};
  switch (event->key()) {
    case Qt::Key_Up:
      move = MoveUp;
      break;
    case Qt::Key_Down:
      move = MoveDown;
      break;
    case Qt::Key_PageUp:
      move = MovePageUp;
      break;
    case Qt::Key_PageDown:
      move = MovePageDown;
      break;
    case Qt::Key_Home:
      move = MoveHome;
      break;
    case Qt::Key_End:
      move = MoveEnd;
      break;
    default:
      return QListWidget::keyPressEvent(event);
  }
  // Moving alone leaves the selection as it is: the receivers chosen stay chosen
  // while the keyboard goes through the list. Shift extends as the view does.
  if (modifiers != Qt::NoModifier) return QListWidget::keyPressEvent(event);
  const QModelIndex next = moveCursor(move, modifiers);
  if (next.isValid()) {
    selectionModel()->setCurrentIndex(next, QItemSelectionModel::NoUpdate);
    scrollTo(next);
  }
  event->accept();
}

void TListBox::keyboardSearch(const QString& search) {
  FSearching = true;
  QListWidget::keyboardSearch(search);
  FSearching = false;
}

QItemSelectionModel::SelectionFlags TListBox::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
  // Type-ahead moves the current item as the arrows do: who is selected stays.
  if (FSearching) return QItemSelectionModel::NoUpdate;
  return QListWidget::selectionCommand(index, event);
}

void TListBox::paintEvent(QPaintEvent* event) {
  QListWidget::paintEvent(event);
  // With an item the focus shows on the current item; without one, on the list.
  if (!hasFocus() || currentIndex().isValid()) return;
  QPainter painter(viewport());
  const int width = std::max(2, fontMetrics().height() / 8);
  painter.setPen(QPen(palette().color(QPalette::Highlight), width));
  painter.drawRect(
      viewport()->rect().adjusted(width / 2, width / 2, -(width + 1) / 2, -(width + 1) / 2));
}

void TListBox::focusInEvent(QFocusEvent* event) {
  QListWidget::focusInEvent(event);
  viewport()->update();
}

void TListBox::focusOutEvent(QFocusEvent* event) {
  QListWidget::focusOutEvent(event);
  viewport()->update();
}

void TListBox::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QListWidget::mousePressEvent(event);
}

void TListBox::mouseReleaseEvent(QMouseEvent* event) {
  // The view would select on a right release over the empty part of the list.
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QListWidget::mouseReleaseEvent(event);
}

void TListBox::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton) {
    event->accept();
    return;
  }
  QListWidget::mouseDoubleClickEvent(event);
}

void TListBox::SetCoreFont(const settings::TFont& value) {
  FCoreFont = value;
  setFont(qtbridge::DisplayFont(value));
  FColors->SetTextColor(value.color);
}

void TListBox::SetItemHeight(int value) {
  FItemHeight = value;
  doItemsLayout();
}

int TListBox::SortedRow(const QString& text) const {
  // Before the items that sort alike: a later name goes first among equals.
  const QCollator& collator = ListCollator();
  int low = 0, high = count();
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (collator.compare(item(middle)->text(), text) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

int TListBox::AddItem(const QString& text) {
  const int at = SortedRow(text);
  insertItem(at, text);
  return at;
}

void TListBox::AddItems(const QList<std::pair<QString, bool>>& items) {
  // Whether each row holds a marked item, once all are in.
  std::vector<bool> marks;
  if (count() == 0) {
    // Into an empty list: sorted once and inserted in one step, so that the
    // list and those who follow it hear of one insertion, not of one per name.
    // Names that sort alike go as AddItem puts them: the later one first. A
    // collating locale compares sort keys (one collation a name, not one a
    // comparison); the C locale compares folded units, made once a name too.
    const QCollator& collator = ListCollator();
    std::vector<qsizetype> order(static_cast<std::size_t>(items.size()));
    std::iota(order.begin(), order.end(), qsizetype{0});
    const auto sortBy = [&order](const auto& keys, const auto& compare) {
      std::sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int compared =
            compare(keys[static_cast<std::size_t>(a)], keys[static_cast<std::size_t>(b)]);
        return compared != 0 ? compared < 0 : a > b;
      });
    };
    if (collator.locale() == QLocale::c()) {
      std::vector<std::u32string> keys;
      keys.reserve(order.size());
      for (const auto& [text, selected] : items) keys.push_back(FoldedUnits(text));
      sortBy(keys, [](const std::u32string& a, const std::u32string& b) { return a.compare(b); });
    } else {
      std::vector<QCollatorSortKey> keys;
      keys.reserve(order.size());
      for (const auto& [text, selected] : items) keys.push_back(collator.sortKey(text));
      sortBy(keys,
             [](const QCollatorSortKey& a, const QCollatorSortKey& b) { return a.compare(b); });
    }
    QStringList texts;
    texts.reserve(items.size());
    marks.reserve(order.size());
    for (const qsizetype at : order) {
      texts.append(items[at].first);
      marks.push_back(items[at].second);
    }
    insertItems(0, texts);
  } else {
    std::unordered_set<const QListWidgetItem*> marked;
    for (const auto& [text, selected] : items) {
      const int at = AddItem(text);
      if (selected) marked.insert(item(at));
    }
    for (int row = 0; row < count(); ++row) marks.push_back(marked.contains(item(row)));
  }
  // Where the marked items went, as runs of neighbouring rows: one range each.
  QItemSelection selection;
  const int rows = static_cast<int>(marks.size());
  for (int row = 0; row < rows;) {
    if (!marks[static_cast<std::size_t>(row)]) {
      ++row;
      continue;
    }
    const int first = row;
    while (row < rows && marks[static_cast<std::size_t>(row)]) ++row;
    selection.select(model()->index(first, 0), model()->index(row - 1, 0));
  }
  if (!selection.isEmpty()) selectionModel()->select(selection, QItemSelectionModel::Select);
}

std::vector<bool> TListBox::SelectedFlags() const {
  std::vector<bool> flags(static_cast<std::size_t>(std::max(count(), 0)), false);
  for (const QItemSelectionRange& range : selectionModel()->selection()) {
    if (!range.isValid() || range.parent().isValid()) continue;
    for (int row = std::max(range.top(), 0); row <= range.bottom() && row < count(); ++row)
      flags[static_cast<std::size_t>(row)] = true;
  }
  return flags;
}

QStringList TListBox::SelectedTexts() const {
  const std::vector<bool> flags = SelectedFlags();
  QStringList texts;
  for (int i = 0; i < count(); ++i) {
    if (flags[static_cast<std::size_t>(i)]) texts << item(i)->text();
  }
  return texts;
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

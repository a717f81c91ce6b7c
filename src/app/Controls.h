// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's building blocks: panels that place their children by alignment
// (bottom, right, the rest), splitters that resize their neighbour, the two text
// panes and the sorted receivers list, each with a background colour and a font
// as the core keeps them.
#include <QAbstractScrollArea>
#include <QHash>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "settings/font.h"

namespace pling::app {

enum class TAlign { alNone, alBottom, alRight, alClient };

// Places aligned children in the order they were added: each alBottom child
// keeps its height and takes the bottom of what is left, each alRight child
// keeps its width and takes the right, the alClient child gets the rest
// (never less than nothing).
class TAligner {
 public:
  void Add(QWidget* child, TAlign align) { FChildren.push_back({child, align}); }
  void Realign(QRect area) const;

 private:
  struct TChild {
    QWidget* widget;
    TAlign align;
  };
  std::vector<TChild> FChildren;
};

// A panel: a border of BorderWidth pixels, aligned children inside, and an
// OnResize event after its children were placed.
class TPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TPanel(QWidget* parent = nullptr);

  int BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int value);
  void AddAligned(QWidget* child, TAlign align) { FAligner.Add(child, align); }
  // Places the children again (after one of them changed its size).
  void Realign();
  // The inner area, inside the border.
  QRect AlignRect() const;

  std::function<void()> OnResize;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  int FBorderWidth = 0;
  TAligner FAligner;
};

// A splitter bar. Dragging it changes the height (alBottom) or width (alRight)
// of the control it is aligned next to; neither that control nor the client
// control on the other side gets smaller than MinSize. OnMoved fires when the
// drag ends.
class TSplitter : public QWidget {
  Q_OBJECT
 public:
  TSplitter(TAlign align, QWidget* parent = nullptr);

  // The control that the bar resizes, and the one that gives way on the other side.
  void SetControls(QWidget* resized, QWidget* client) {
    FResized = resized;
    FClient = client;
  }
  int MinSize() const { return FMinSize; }
  void SetMinSize(int value) { FMinSize = value; }
  // Moves the bar by `delta` pixels (down or right positive), as a drag would,
  // without firing OnMoved.
  void MoveBy(int delta);

  std::function<void()> OnMoved;
  // Asked to place the controls again after a move.
  std::function<void()> OnRealign;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int ResizedSize() const;
  int Position(const QPoint& global) const;

  TAlign FAlign;
  int FMinSize = 30;
  QWidget* FResized = nullptr;
  QWidget* FClient = nullptr;
  bool FDragging = false;
  int FDragStart = 0;    // pointer position at the press
  int FSizeAtStart = 0;  // size of the resized control at the press
};

// Keeps a scroll area's background and text colours as core colours and
// resolves system colours through the application's palette whenever the area
// paints, so a change of the desktop's theme shows at the next paint.
class TPaneColors : public QObject {
  Q_OBJECT
 public:
  explicit TPaneColors(QAbstractScrollArea* area);

  settings::TColor Color() const { return FColor; }
  void SetColor(settings::TColor value);
  settings::TColor TextColor() const { return FTextColor; }
  void SetTextColor(settings::TColor value);
  // Resolves both colours now and gives the area a palette with them.
  void Apply();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QAbstractScrollArea* FArea;
  QObject* FViewport;
  settings::TColor FColor = settings::clWindow;
  settings::TColor FTextColor = settings::clWindowText;
};

// Whether an event asks for a control's menu from the keyboard (the menu key, or
// Shift+F10). The panes and the list then ask for their menu where the keyboard
// is: at the caret, at the current item.
bool IsKeyboardMenuRequest(const QEvent& event);

// A text pane (memo) with a core font and background colour and two wrap
// states: off (no wrapping, both scroll bars) and on (wrapping at the pane's
// right edge, vertical scroll bar only). Tab and Shift+Tab move the focus on to
// the next or previous control (Ctrl+Tab types a tab). While its font is the design font
// the pane shows the desktop's font (see DisplayFont).
class TMemo : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit TMemo(QWidget* parent = nullptr);

  settings::TColor Color() const { return FColors->Color(); }
  void SetColor(settings::TColor value) { FColors->SetColor(value); }
  const settings::TFont& CoreFont() const { return FCoreFont; }
  void SetCoreFont(const settings::TFont& value);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value);

  // Lines as the pane counts them (display lines while wrapping). An empty line
  // after the final line break is no line. Costs time in proportion to what
  // changed since the last count, not to the pane: the document keeps the sum of
  // its blocks' line counts, and only blocks not yet laid out are laid out here
  // (all of them once after the width, the font or the wrap state changed).
  int LineCount() const;

  // Appends `text` at the end as lines of their own ('\n' between them), then
  // keeps the last `maxLines` lines as TrimToLines does. In a pane without undo,
  // fewer than kLinesAppendedApart lines replace the oldest as they come, so that
  // only what changed is painted; more go in as one edit.
  void AppendLines(const QString& text, int maxLines);
  static constexpr int kLinesAppendedApart = 16;
  // Removes the oldest lines (display lines while wrapping) beyond `maxLines`,
  // also partway through a block, in one edit.
  void TrimToLines(int maxLines);

  // The most characters the pane holds; 0 means no limit. A paste or drop that
  // would take the text past it is refused with "Text exceeds memo capacity"
  // and leaves the pane as it was.
  qsizetype Capacity() const { return FCapacity; }
  void SetCapacity(qsizetype value) { FCapacity = value; }
  // Whether `length` more characters, in place of the selection, still fit.
  bool Fits(qsizetype length) const;

  std::function<void(QKeyEvent&)> OnKeyPress;

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  void LayOutChangedBlocks() const;
  void AppendLine(const QString& line, int maxLines);

  TPaneColors* FColors;
  settings::TFont FCoreFont;
  bool FWordWrap = false;
  qsizetype FCapacity = 0;
  mutable bool FLayoutStale = true;
};

// The receivers list: sorted by the locale's comparison with letter case
// ignored, several items selectable (Shift and Ctrl extend a selection). A right
// click neither selects nor moves the current item: it opens the list's menu,
// whose commands act on the selection as it was. From the keyboard the arrow,
// page and Home/End keys move the current item without touching the selection,
// Space selects or deselects the current item, Shift with a movement selects the
// range as before, typing a name's first letters moves the current item there and
// selects nothing, and the menu key or Shift+F10 opens the list's menu at the
// current item (at no item when there is none). An empty list with the focus
// shows it with a frame in the highlight colour. While its
// font is the design font the list shows the desktop's font.
class TListBox : public QListWidget {
  Q_OBJECT
 public:
  explicit TListBox(QWidget* parent = nullptr);
  ~TListBox() override;

  settings::TColor Color() const { return FColors->Color(); }
  void SetColor(settings::TColor value) { FColors->SetColor(value); }
  const settings::TFont& CoreFont() const { return FCoreFont; }
  void SetCoreFont(const settings::TFont& value);
  void SetItemHeight(int value);

  // Adds an item where the sorting puts it; returns its position.
  int AddItem(const QString& text);
  // Adds items where the sorting puts them and selects those marked, in one
  // selection change. (Selecting item by item costs each call time in proportion
  // to the selection's ranges: a long list with many selected took its square.)
  void AddItems(const QList<std::pair<QString, bool>>& items);
  QStringList Items() const;
  bool Selected(int index) const;
  void SetSelected(int index, bool value);
  int SelCount() const;
  // Whether each item is selected, by position, in one pass over the selection.
  std::vector<bool> SelectedFlags() const;
  // The selected items' texts in list order.
  QStringList SelectedTexts() const;

  // Whether an item's text equals `text` with letter case ignored, and the
  // position of such an item (-1 for none). Neither looks at every item but the
  // first time: the list keeps its case-folded texts in a hash, made then and in
  // step with every change after, and finds a position by the sort order.
  bool ContainsText(const QString& text) const;
  int IndexOfText(const QString& text) const;

  // Counts every change of the items' texts, order or selection: while it stays,
  // Items() and SelectedFlags() give what they gave.
  std::uint64_t Changes() const { return FChanges; }

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyboardSearch(const QString& search) override;
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override;
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void IndexRows(int first, int last, int delta) const;
  void RebuildIndex();
  // Where AddItem puts `text`: before the first item that does not sort before it.
  int SortedRow(const QString& text) const;

  // Case-folded item text -> how many items have it; made at the first look-up
  // (a stored list is not indexed at the start), then kept in step.
  mutable std::optional<QHash<QString, int>> FFolded;
  std::uint64_t FChanges = 0;
  TPaneColors* FColors;
  settings::TFont FCoreFont;
  bool FSearching = false;  // type-ahead is moving the current item
  int FItemHeight = 13;
};

}  // namespace pling::app

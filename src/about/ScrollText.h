// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// TScrollText: shows a list of text lines as one block and moves the block
// across its area, one step per timer tick, in one of four directions or not
// at all. A pass takes the block from just outside one edge to just outside the
// opposite one in `Steps` steps; with `Continuous` the passes repeat without
// end. Lines can be drawn flat, raised, lowered or with a drop shadow in the
// palette's button highlight and shadow colours. Every frame is composed off
// screen and copied in one operation; a tick repaints at once.
#include <QFont>
#include <QImage>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "settings/font.h"

class QTimer;

namespace pling::about {

enum TTextStyle : std::uint8_t { tsNormal, tsRaised, tsLowered, tsShaddow };
enum TScrollDirection : std::uint8_t {
  sdStatic,
  sdRightToLeft,
  sdLeftToRight,
  sdTopToBottom,
  sdBottomToTop
};
// The control's own alignment: a stored 0 centres.
enum TAlignment : std::uint8_t { taCenter, taLeftJustify, taRightJustify };

// The layout of the block, as UpdateMetrics computes it.
struct TScrollMetrics {
  std::int32_t lineHeight = 0;  // one line, 3-D allowance included
  std::int32_t maxWidth = 0;    // the widest line, 3-D allowance included
  std::int32_t textHeight = 0;  // lines × lineHeight
  std::int32_t blockLeft = 0;   // where the block stands when centred
  std::int32_t blockTop = 0;
};

// Pixels that the extra copies of a style add to a line's width and height.
std::int32_t TextAllowance(TTextStyle style, std::int32_t depth);
// Round to nearest with halves to the even neighbour, kept within 32 bits.
std::int32_t RoundHalfEven(double value);
// How far along its path the block is: position / steps; the half-way point
// while designing. With no steps (0 or less) there is no path: the block stands
// before its entry edge at position 0 and beyond its exit edge after that.
double ScrollFraction(std::int32_t position, std::int32_t steps, bool designing);
// The top-left corner of the block at fraction `f` in an area of width × height.
QPoint BlockOrigin(TScrollDirection direction, double f, const TScrollMetrics& metrics,
                   std::int32_t width, std::int32_t height);
// Where a line of `textWidth` pixels starts within the block's `maxWidth`.
std::int32_t AlignmentOffset(TAlignment alignment, std::int32_t maxWidth, std::int32_t textWidth);

class TCustomScrollText : public QWidget {
  Q_OBJECT

 public:
  using TNotifyEvent = std::function<void(TCustomScrollText& Sender)>;

  // "ScrollText" in Arial 10 points, black on the button face, 200 × 20
  // pixels, 80 steps of 100 ms, continuous, moving right to left: the control
  // is scrolling when the constructor returns.
  explicit TCustomScrollText(QWidget* parent = nullptr);
  ~TCustomScrollText() override;

  const QStringList& Items() const { return FItems; }
  void SetItems(const QStringList& value);
  TTextStyle TextStyle() const { return FTextStyle; }
  void SetTextStyle(TTextStyle value);
  std::int32_t Steps() const { return FSteps; }
  void SetSteps(std::int32_t value);
  // Milliseconds per step, kept within 1..1000.
  std::int32_t Speed() const { return FSpeed; }
  void SetSpeed(std::int32_t value);
  settings::TColor Color() const { return FColor; }
  void SetColor(settings::TColor value);
  bool Continuous() const { return FContinuous; }
  void SetContinuous(bool value);
  // The text font; its colour is kept beside it.
  const QFont& Font() const { return FFont; }
  void SetFont(const QFont& value);
  settings::TColor FontColor() const { return FFontColor; }
  void SetFontColor(settings::TColor value);
  std::int32_t Depth() const { return FDepth; }
  void SetDepth(std::int32_t value);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value);
  TScrollDirection ScrollDirection() const { return FScrollDirection; }
  // Starts scrolling (from the current position) for a moving direction, stops
  // for sdStatic, even when the direction is the one already set.
  void SetScrollDirection(TScrollDirection value);
  // Designing: the block stands at the half-way point of its path whatever the
  // position, and a change of Steps repaints.
  bool Designing() const { return FDesigning; }
  void SetDesigning(bool value);

  TNotifyEvent OnBegin;  // a pass starts (before its first step)
  TNotifyEvent OnStep;   // after each step's frame
  TNotifyEvent OnEnd;    // a pass has ended

  // Unless scrolling already: start a pass at `firstStep` when it lies within
  // 0..Steps (otherwise at the current position).
  void StartScroll(std::int32_t firstStep);
  // Stops where the block is; a later start resumes there.
  void StopScroll();
  bool Scrolling() const;
  std::int32_t Position() const { return FPosition; }

  // The layout as last measured, and a fresh measurement.
  const TScrollMetrics& Metrics() const { return FMetrics; }
  void UpdateMetrics();
  // The frame the next paint shows: the background and every line at the
  // current position.
  QImage Frame();
  // One step of the timer.
  void TimerTick();

 protected:
  void Changed();
  // Draws one line at (x, y) with the alignment and style.
  void DrawLine(QPainter& canvas, std::int32_t x, std::int32_t y, const QString& text);
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void FontChanged();

  QStringList FItems;
  TTextStyle FTextStyle = tsNormal;
  std::int32_t FSteps = 80;
  std::int32_t FSpeed = 100;
  settings::TColor FColor = settings::clBtnFace;
  bool FContinuous = true;
  QFont FFont;
  settings::TColor FFontColor = settings::clBlack;
  std::int32_t FDepth = 1;
  TAlignment FAlignment = taCenter;
  TScrollDirection FScrollDirection = sdStatic;
  bool FDesigning = false;
  QTimer* FTimer;
  std::int32_t FPosition = 0;
  TScrollMetrics FMetrics;
};

// The control as forms use it; all behaviour is in TCustomScrollText.
class TScrollText : public TCustomScrollText {
  Q_OBJECT

 public:
  using TCustomScrollText::TCustomScrollText;
};

}  // namespace pling::about

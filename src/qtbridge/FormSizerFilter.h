// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window side of TFormSizer on Qt: an event filter on the form's top-level
// widget that stands where the window procedure stood.
//
// - The size-limit request: whenever the window is shown, resized, maximised or
//   restored, and when a sizer asks (RefreshLimits), the filter fills a
//   TMinMaxInfo as the window system would (sizes of the window with its frame;
//   maximised: the screen's available area; tracking: the widget's own minimum
//   and maximum size as they were before the first sizer came), lets each sizer
//   fill it in, and applies the tracking sizes as the widget's minimum and
//   maximum size. The window manager bounds a maximised window by the largest
//   size too. Where a maximised window goes and how large it is beyond that is
//   the window manager's alone (Qt turns a maximised window that is moved or
//   resized back into a normal one), so the maximised members of the record
//   reach the sizers and their handlers but are not applied.
// - Every Move event applies the position rule before the widget sees it.
// - The caption: the window manager owns the caption of a top-level window and
//   Qt reports no hit test for it, so "the caption cannot drag the window" is not
//   available as such. HitTest gives the rule for a window that draws its own
//   caption; with a window manager's caption, the position rule moves the window
//   back at the next Move event instead.
//
// Several sizers on one window are asked newest first, so the oldest sizer's
// values win, as with chained window procedures.
#include <QObject>
#include <QPointer>
#include <QSize>
#include <vector>

#include "settings/FormSize.h"

class QWidget;

namespace pling::qtbridge {

class TFormSizerFilter : public QObject, public settings::TSizerWindow {
  Q_OBJECT

 public:
  // A child of the window; it may also be a member of the window's class.
  explicit TFormSizerFilter(QWidget& window);
  ~TFormSizerFilter() override;

  void InstallSizer(settings::TFormSizer& sizer) override;
  void RemoveSizer(settings::TFormSizer& sizer) override;
  void ForgetSizer(settings::TFormSizer& sizer) override;
  void RefreshLimits() override;

  // The request as the window system fills it for the window now.
  settings::TMinMaxInfo SystemMinMaxInfo() const;
  // The request after every sizer filled it in (asks the sizers, so OnTracking runs).
  settings::TMinMaxInfo MinMaxInfo();
  // The hit test's result after the sizers: give it the window's own result.
  int HitTest(int result) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QSize FrameExtra() const;

  QPointer<QWidget> FWindow;
  std::vector<settings::TFormSizer*> FSizers;  // newest first
  QSize FSystemMinimum;
  QSize FSystemMaximum;
  bool FApplying = false;
};

}  // namespace pling::qtbridge

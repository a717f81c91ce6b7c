// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtbridge/FormSizerFilter.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cstdint>

namespace pling::qtbridge {

using settings::TFormSizer;
using settings::TMinMaxInfo;

namespace {

int ClampSize(std::int64_t value, std::int64_t lowest) {
  return static_cast<int>(std::clamp<std::int64_t>(value, lowest, QWIDGETSIZE_MAX));
}

// Restores a flag when leaving its scope, also by an exception from a handler.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TFlagGuard() { FFlag = false; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& FFlag;
};

}  // namespace

TFormSizerFilter::TFormSizerFilter(QWidget& window) : QObject(&window), FWindow(&window) {}

TFormSizerFilter::~TFormSizerFilter() {
  // Usually the window is being destroyed around its child filter here, so the
  // window is not touched; Qt drops a destroyed filter from the window by itself.
  for (TFormSizer* sizer : FSizers) sizer->WindowDestroyed(*this);
}

void TFormSizerFilter::InstallSizer(TFormSizer& sizer) {
  if (!FWindow) return;
  if (std::find(FSizers.begin(), FSizers.end(), &sizer) != FSizers.end()) return;
  if (FSizers.empty()) {
    FSystemMinimum = FWindow->minimumSize();
    FSystemMaximum = FWindow->maximumSize();
    FWindow->installEventFilter(this);
  }
  FSizers.insert(FSizers.begin(), &sizer);
}

void TFormSizerFilter::RemoveSizer(TFormSizer& sizer) {
  const auto it = std::find(FSizers.begin(), FSizers.end(), &sizer);
  if (it == FSizers.end()) return;
  FSizers.erase(it);
  if (FSizers.empty() && FWindow) {
    FWindow->removeEventFilter(this);
    FWindow->setMinimumSize(FSystemMinimum);
    FWindow->setMaximumSize(FSystemMaximum);
  }
}

void TFormSizerFilter::ForgetSizer(TFormSizer& sizer) {
  const auto it = std::find(FSizers.begin(), FSizers.end(), &sizer);
  if (it == FSizers.end()) return;
  FSizers.erase(it);
  if (FSizers.empty() && FWindow) FWindow->removeEventFilter(this);
}

QSize TFormSizerFilter::FrameExtra() const {
  if (!FWindow) return QSize(0, 0);
  const QSize extra = FWindow->frameGeometry().size() - FWindow->geometry().size();
  return extra.expandedTo(QSize(0, 0));
}

TMinMaxInfo TFormSizerFilter::SystemMinMaxInfo() const {
  TMinMaxInfo info;
  if (!FWindow) return info;
  const QSize extra = FrameExtra();
  const QSize minimum = FSizers.empty() ? FWindow->minimumSize() : FSystemMinimum;
  const QSize maximum = FSizers.empty() ? FWindow->maximumSize() : FSystemMaximum;
  const QScreen* screen = FWindow->screen();
  const QRect area = screen != nullptr ? screen->availableGeometry()
                                       : QRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  info.ptMaxSize = {area.width(), area.height()};
  info.ptMaxPosition = {area.left(), area.top()};
  info.ptMinTrackSize = {minimum.width() + extra.width(), minimum.height() + extra.height()};
  info.ptMaxTrackSize = {
      ClampSize(std::int64_t{maximum.width()} + extra.width(), 0),
      ClampSize(std::int64_t{maximum.height()} + extra.height(), 0),
  };
  return info;
}

TMinMaxInfo TFormSizerFilter::MinMaxInfo() {
  TMinMaxInfo info = SystemMinMaxInfo();
  const std::vector<TFormSizer*> sizers = FSizers;
  for (TFormSizer* sizer : sizers) {
    if (std::find(FSizers.begin(), FSizers.end(), sizer) != FSizers.end()) {
      sizer->GetMinMaxInfo(info);
    }
  }
  return info;
}

void TFormSizerFilter::RefreshLimits() {
  // Without a sizer the window keeps its own limits (put back by RemoveSizer).
  if (!FWindow || FApplying || FSizers.empty()) return;
  const TFlagGuard applying(FApplying);
  const TMinMaxInfo info = MinMaxInfo();
  const QSize extra = FrameExtra();
  const QSize minimum(ClampSize(std::int64_t{info.ptMinTrackSize.x} - extra.width(), 0),
                      ClampSize(std::int64_t{info.ptMinTrackSize.y} - extra.height(), 0));
  // The largest size of all stays unlimited; a largest size below the
  // smallest gives way to the smallest.
  const auto largest = [](std::int32_t frame, int extent, int lowest) {
    if (frame >= QWIDGETSIZE_MAX) return QWIDGETSIZE_MAX;
    return ClampSize(std::int64_t{frame} - extent, lowest);
  };
  const QSize maximum(largest(info.ptMaxTrackSize.x, extra.width(), minimum.width()),
                      largest(info.ptMaxTrackSize.y, extra.height(), minimum.height()));
  if (FWindow->minimumSize() != minimum || FWindow->maximumSize() != maximum) {
    // Widen first, so that the two never cross on the way.
    FWindow->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    FWindow->setMinimumSize(minimum);
    FWindow->setMaximumSize(maximum);
  }
}

int TFormSizerFilter::HitTest(int result) const {
  for (const TFormSizer* sizer : FSizers) result = sizer->HitTest(result);
  return result;
}

bool TFormSizerFilter::eventFilter(QObject* watched, QEvent* event) {
  if (watched != FWindow || FSizers.empty()) return false;
  switch (event->type()) {
    case QEvent::Move: {
      const std::vector<TFormSizer*> sizers = FSizers;
      for (TFormSizer* sizer : sizers) {
        if (std::find(FSizers.begin(), FSizers.end(), sizer) != FSizers.end()) {
          sizer->WindowMoved();
        }
      }
      break;
    }
    case QEvent::Show:
    case QEvent::Resize:
      RefreshLimits();
      break;
    case QEvent::WindowStateChange:
      RefreshLimits();
      break;
    default:
      break;
  }
  return false;
}

}  // namespace pling::qtbridge

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The network neighbourhood in the window (platform/neighbourhood.h):
//
// - each receiver in the receivers list carries a small mark: a filled dot when
//   its name (a machine's or a messenger name) is heard on this computer's
//   subnets, a hollow one when it was heard and is no longer, none when it is not
//   known here (it may be beyond a router); its accessible description says the
//   same in words. The marks follow the neighbourhood as it changes, from a
//   snapshot made on a thread of its own: painting asks nothing.
// - the Add and Edit dialogs offer the names heard as completions;
// - the Network window lists the machines heard with their comments and the
//   people on each, and adds the chosen name to the receivers (Enter, a double
//   click or its Add button); a button there opens the dialog for this
//   computer's own comment (CommentDlg.h).
#include <QDialog>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "platform/neighbourhood.h"

class QInputDialog;
class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace pling::app {

class TNetworkFrm;

class TNetworkView : public QObject {
  Q_OBJECT
 public:
  // `receivers` is the window's receivers list; `add` adds a name to it (and
  // returns its position).
  TNetworkView(QListWidget& receivers, std::function<int(const QString&)> add, QObject* parent);
  ~TNetworkView() override;

  // The text field of `dialog` (an Add or Edit dialog): at most 255 characters,
  // its text selected, and the names heard on the network as completions.
  void PrepareNameDialog(QInputDialog& dialog) const;
  // Opens the Network window (or brings it up), over `owner`.
  void ShowNetworkFrm(QWidget* owner);

  // The mark's words for `reach`, as the accessible description says them.
  static QString ReachText(platform::TReach reach);
  const std::shared_ptr<const platform::TNeighbourhoodSnapshot>& Snapshot() const {
    return FSnapshot;
  }
  // Takes a new snapshot in: sets the marks, refills an open Network window. The
  // follower's snapshots come here; tests hand their own.
  void Take(std::shared_ptr<const platform::TNeighbourhoodSnapshot> snapshot);

 signals:
  // A new snapshot was taken in (after the marks were set).
  void Changed();

 private:
  void Mark(int first, int last);

  QListWidget& FReceivers;
  std::function<int(const QString&)> FAdd;
  std::shared_ptr<const platform::TNeighbourhoodSnapshot> FSnapshot;
  TNetworkFrm* FFrm = nullptr;
  // Last, so that it stops (and publishes no more) before the rest goes.
  std::unique_ptr<platform::TNeighbourhoodFollower> FFollower;
};

// The Network window: machines (name, address, workgroup, comment) and, under
// each, its messenger names.
class TNetworkFrm : public QDialog {
  Q_OBJECT
 public:
  TNetworkFrm(const TNetworkView& view, std::function<int(const QString&)> add, QWidget* parent);
  void Fill();

 private:
  void AddCurrent();

  const TNetworkView& FView;
  std::function<int(const QString&)> FAdd;
  QLabel* FScopeLbl;
  QTreeWidget* FMachinesTre;
  QPushButton* FAddBtn;
  QPushButton* FCloseBtn;
  QPushButton* FCommentBtn;
};

}  // namespace pling::app

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NetworkView.h"

#include <QAbstractItemModel>
#include <QCompleter>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <array>
#include <optional>

#include "app/CommentDlg.h"
#include "qtbridge/AnsiText.h"

namespace pling::app {

namespace {

constexpr int kMarkSize = 8;
constexpr int kNameRole = Qt::UserRole + 1;  // the name a tree row adds

QString Dotted(std::uint32_t a) {
  return QStringLiteral("%1.%2.%3.%4")
      .arg(a >> 24)
      .arg(a >> 16 & 0xFF)
      .arg(a >> 8 & 0xFF)
      .arg(a & 0xFF);
}

// A dot: filled (heard), hollow (heard before), or nothing, at the same size so
// that the names stay in line.
QIcon MarkIcon(platform::TReach reach) {
  QPixmap pixmap(kMarkSize * 2, kMarkSize * 2);
  pixmap.setDevicePixelRatio(2);
  pixmap.fill(Qt::transparent);
  if (reach != platform::TReach::Unknown) {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF dot(1, 1, kMarkSize - 2, kMarkSize - 2);
    if (reach == platform::TReach::Reachable) {
      painter.setPen(QPen(QColor(0x1e, 0x7b, 0x34), 1));
      painter.setBrush(QColor(0x2e, 0xa0, 0x44));
    } else {
      painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 1.2));
      painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(dot);
  }
  return QIcon(pixmap);
}

}  // namespace

TNetworkView::TNetworkView(QListWidget& receivers, std::function<int(const QString&)> add,
                           QObject* parent)
    : QObject(parent), FReceivers(receivers), FAdd(std::move(add)) {
  FReceivers.setIconSize(QSize(kMarkSize, kMarkSize));
  connect(FReceivers.model(), &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { Mark(first, last); });
  connect(
      FReceivers.model(), &QAbstractItemModel::dataChanged, this,
      [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
        if (roles.isEmpty() || roles.contains(Qt::DisplayRole) || roles.contains(Qt::EditRole)) {
          Mark(from.row(), to.row());
        }
      });
  FFollower = std::make_unique<platform::TNeighbourhoodFollower>(
      [this](std::shared_ptr<const platform::TNeighbourhoodSnapshot> snapshot) {
        // To the window's thread; dropped there once this is gone.
        QMetaObject::invokeMethod(
            this, [this, snapshot = std::move(snapshot)]() mutable { Take(std::move(snapshot)); },
            Qt::QueuedConnection);
      });
}

TNetworkView::~TNetworkView() {
  FFollower.reset();
}

QString TNetworkView::ReachText(platform::TReach reach) {
  switch (reach) {
    case platform::TReach::Reachable:
      return QStringLiteral("Heard on the network now");
    case platform::TReach::Unreachable:
      return QStringLiteral("Not heard on the network any more");
    case platform::TReach::Unknown:
      break;
  }
  return QStringLiteral("Not known on this computer's subnets");
}

void TNetworkView::Take(std::shared_ptr<const platform::TNeighbourhoodSnapshot> snapshot) {
  FSnapshot = std::move(snapshot);
  Mark(0, FReceivers.count() - 1);
  if (FFrm != nullptr && FFrm->isVisible()) FFrm->Fill();
  emit Changed();
}

void TNetworkView::Mark(int first, int last) {
  static const std::array<QIcon, 3> icons{MarkIcon(platform::TReach::Unknown),
                                          MarkIcon(platform::TReach::Reachable),
                                          MarkIcon(platform::TReach::Unreachable)};
  first = std::max(first, 0);
  last = std::min(last, FReceivers.count() - 1);
  // Each item's change would be told to the list and to all who follow it, one
  // by one; many rows at once (a stored list, a new snapshot) are told as one
  // change of the rows between the first and the last that changed.
  QAbstractItemModel* items = FReceivers.model();
  std::optional<QSignalBlocker> quiet;
  if (last > first) quiet.emplace(items);
  int changedFirst = -1, changedLast = -1;
  for (int i = first; i <= last; ++i) {
    QListWidgetItem* item = FReceivers.item(i);
    const platform::TReach reach =
        FSnapshot ? FSnapshot->Reach(qtbridge::ToAnsi(item->text())) : platform::TReach::Unknown;
    const QString text = ReachText(reach);
    // Only what changes is set: each change is told to the list (and would
    // come back here).
    if (item->data(Qt::AccessibleDescriptionRole).toString() == text) continue;
    item->setData(Qt::AccessibleDescriptionRole, text);
    item->setIcon(icons[static_cast<std::size_t>(reach)]);
    if (changedFirst < 0) changedFirst = i;
    changedLast = i;
  }
  if (quiet && changedFirst >= 0) {
    quiet.reset();
    emit items->dataChanged(items->index(changedFirst, 0), items->index(changedLast, 0),
                            {Qt::DecorationRole, Qt::AccessibleDescriptionRole});
  }
}

void TNetworkView::PrepareNameDialog(QInputDialog& dialog) const {
  auto* edit = dialog.findChild<QLineEdit*>();
  if (edit == nullptr) return;
  edit->setMaxLength(255);
  edit->selectAll();
  if (!FSnapshot) return;
  QStringList names;
  for (const std::string& name : FSnapshot->Names()) names.append(qtbridge::FromAnsi(name));
  if (names.isEmpty()) return;
  auto* completer = new QCompleter(names, edit);
  completer->setCaseSensitivity(Qt::CaseInsensitive);
  completer->setObjectName(QStringLiteral("NetworkNamesCpl"));
  edit->setCompleter(completer);
}

void TNetworkView::ShowNetworkFrm(QWidget* owner) {
  if (FFrm == nullptr) {
    FFrm = new TNetworkFrm(*this, FAdd, owner);
    connect(FFrm, &QObject::destroyed, this, [this] { FFrm = nullptr; });
  }
  FFrm->Fill();
  FFollower->Refresh();
  FFrm->show();
  FFrm->raise();
  FFrm->activateWindow();
}

TNetworkFrm::TNetworkFrm(const TNetworkView& view, std::function<int(const QString&)> add,
                         QWidget* parent)
    : QDialog(parent), FView(view), FAdd(std::move(add)) {
  setObjectName(QStringLiteral("NetworkFrm"));
  setWindowTitle(QStringLiteral("Network"));
  setModal(false);
  FScopeLbl = new QLabel(this);
  FScopeLbl->setObjectName(QStringLiteral("ScopeLbl"));
  FScopeLbl->setWordWrap(true);
  FMachinesTre = new QTreeWidget(this);
  FMachinesTre->setObjectName(QStringLiteral("MachinesTre"));
  FMachinesTre->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Address"),
                                 QStringLiteral("Workgroup"), QStringLiteral("Comment")});
  FMachinesTre->setRootIsDecorated(true);
  FMachinesTre->setUniformRowHeights(true);
  FMachinesTre->header()->setStretchLastSection(true);
  FMachinesTre->setAccessibleName(QStringLiteral("Machines and people"));
  FMachinesTre->setAccessibleDescription(
      QStringLiteral("The machines heard on this computer's subnets, with the people on each. "
                     "Enter adds the chosen name to the receivers."));
  FAddBtn = new QPushButton(QStringLiteral("&Add to receivers"), this);
  FAddBtn->setObjectName(QStringLiteral("AddBtn"));
  FAddBtn->setAutoDefault(false);
  FCloseBtn = new QPushButton(QStringLiteral("Close"), this);
  FCloseBtn->setObjectName(QStringLiteral("CloseBtn"));
  FCloseBtn->setAutoDefault(false);
  FCommentBtn = new QPushButton(QStringLiteral("This computer's co&mment..."), this);
  FCommentBtn->setObjectName(QStringLiteral("CommentBtn"));
  FCommentBtn->setAutoDefault(false);
  FCommentBtn->setAccessibleDescription(
      QStringLiteral("The comment other computers show beside this one's name"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(FCommentBtn);
  buttons->addStretch();
  buttons->addWidget(FAddBtn);
  buttons->addWidget(FCloseBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FScopeLbl);
  layout->addWidget(FMachinesTre);
  layout->addLayout(buttons);
  resize(560, 360);
  connect(FAddBtn, &QPushButton::clicked, this, [this] { AddCurrent(); });
  connect(FCloseBtn, &QPushButton::clicked, this, &QDialog::close);
  connect(FCommentBtn, &QPushButton::clicked, this, [this] { EditComment(this); });
  connect(FMachinesTre, &QTreeWidget::itemActivated, this, [this] { AddCurrent(); });
  connect(FMachinesTre, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current) { FAddBtn->setEnabled(current != nullptr); });
  FAddBtn->setEnabled(false);
}

void TNetworkFrm::Fill() {
  const auto& snapshot = FView.Snapshot();
  // Where the list was: the chosen name and the scroll position stay.
  QString chosen;
  if (QTreeWidgetItem* current = FMachinesTre->currentItem()) {
    chosen = current->data(0, kNameRole).toString() + QLatin1Char('\n') + current->text(1);
  }
  const int scrolled =
      FMachinesTre->verticalScrollBar() != nullptr ? FMachinesTre->verticalScrollBar()->value() : 0;
  FMachinesTre->setUpdatesEnabled(false);
  FMachinesTre->clear();
  QString scope;
  if (!snapshot) {
    scope = QStringLiteral("Listening to the network...");
  } else if (!snapshot->problem.empty()) {
    scope = qtbridge::FromAnsi(snapshot->problem);
  } else {
    int machines = 0;
    QTreeWidgetItem* current = nullptr;
    for (const platform::TNeighbour& m : snapshot->machines) {
      if (m.workgroupEntry) continue;
      ++machines;
      auto* item = new QTreeWidgetItem(
          FMachinesTre, {qtbridge::FromAnsi(m.name), Dotted(m.address),
                         qtbridge::FromAnsi(m.workgroup), qtbridge::FromAnsi(m.comment)});
      item->setData(0, kNameRole, qtbridge::FromAnsi(m.name));
      for (const std::string& person : m.people) {
        auto* child = new QTreeWidgetItem(item, {qtbridge::FromAnsi(person), Dotted(m.address)});
        child->setData(0, kNameRole, qtbridge::FromAnsi(person));
        if (chosen == qtbridge::FromAnsi(person) + QLatin1Char('\n') + Dotted(m.address))
          current = child;
      }
      item->setExpanded(true);
      if (chosen == qtbridge::FromAnsi(m.name) + QLatin1Char('\n') + Dotted(m.address))
        current = item;
    }
    scope = (machines == 1 ? QStringLiteral("1 machine heard")
                           : QStringLiteral("%1 machines heard").arg(machines)) +
            QStringLiteral(" on this computer's subnets; machines beyond a router are not listed.");
    if (current != nullptr) FMachinesTre->setCurrentItem(current);
  }
  FScopeLbl->setText(scope);
  FMachinesTre->resizeColumnToContents(0);
  if (FMachinesTre->verticalScrollBar() != nullptr) {
    FMachinesTre->verticalScrollBar()->setValue(scrolled);
  }
  FMachinesTre->setUpdatesEnabled(true);
  FAddBtn->setEnabled(FMachinesTre->currentItem() != nullptr);
}

void TNetworkFrm::AddCurrent() {
  QTreeWidgetItem* current = FMachinesTre->currentItem();
  if (current == nullptr || !FAdd) return;
  FAdd(current->data(0, kNameRole).toString());
}

}  // namespace pling::app

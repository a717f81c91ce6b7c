// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HistoryView.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/HistoryLog.h"

namespace pling::app {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kHtmlRole = THistoryFrm::kMarkedRole;
enum TColumn { colTime, colFrom, colTo, colMessage, colDelivery };
const QDate kAnyDate(2000, 1, 1);
const char* const kMarkStyle = "font-weight:bold;background-color:#ffe36e;color:#000000";

QString U(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Escaped, with line breaks as "↵" (one line) or as <br> (several).
QString Escaped(const QString& text, bool oneLine) {
  QString out = text.toHtmlEscaped();
  out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  out.replace(QLatin1Char('\n'), oneLine ? QStringLiteral(" \u21B5 ") : QStringLiteral("<br>"));
  if (oneLine) out.replace(QLatin1Char('\t'), QLatin1Char(' '));
  return out;
}

// The message column: the marked text drawn as rich text (the item's own text,
// which screen readers read, stays plain).
class TMarkedDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QString html = index.data(kHtmlRole).toString();
    if (html.isEmpty()) {
      QStyledItemDelegate::paint(painter, option, index);
      return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    QTextDocument doc;
    doc.setDefaultFont(opt.font);
    doc.setDocumentMargin(0);
    doc.setHtml(html);
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    painter->save();
    painter->translate(textRect.left(),
                       textRect.top() + (textRect.height() - doc.size().height()) / 2);
    const QRectF clip(0, 0, textRect.width(), textRect.height());
    painter->setClipRect(clip);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = clip;
    context.palette = opt.palette;
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    context.palette.setColor(
        QPalette::Text, opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    doc.documentLayout()->draw(painter, context);
    painter->restore();
    // A text longer than the column ends in "…" rather than cut off mid-letter.
    if (doc.idealWidth() > textRect.width()) {
      const QString more = QStringLiteral("\u2026");
      const int moreWidth = opt.fontMetrics.horizontalAdvance(more) + 2;
      const QRect end(textRect.right() - moreWidth + 1, textRect.top(), moreWidth,
                      textRect.height());
      painter->fillRect(end, opt.palette.brush(selected ? QPalette::Highlight : QPalette::Base));
      painter->setPen(context.palette.color(QPalette::Text));
      painter->drawText(end, Qt::AlignVCenter | Qt::AlignRight, more);
    }
  }
};

}  // namespace

QString MarkedHtml(const std::string& text, const std::vector<history::TSpan>& marks,
                   int maxChars) {
  // Start a little before the first mark, so that it is in sight.
  std::size_t from = 0;
  QString html;
  if (!marks.empty() && marks.front().begin <= text.size()) {
    const QString before = U(text.substr(0, marks.front().begin));
    if (before.size() > maxChars / 3) {
      const qsizetype keep = maxChars / 6;
      from = marks.front().begin - static_cast<std::size_t>(before.right(keep).toUtf8().size());
      html = QStringLiteral("\u2026");
    }
  }
  int shown = 0;
  const auto add = [&](std::size_t begin, std::size_t end, bool marked) {
    if (begin >= end || shown >= maxChars) return;
    QString part = U(text.substr(begin, end - begin));
    if (shown + part.size() > maxChars)
      part = part.left(maxChars - shown) + QStringLiteral("\u2026");
    shown += static_cast<int>(part.size());
    const QString escaped = Escaped(part, true);
    html +=
        marked
            ? QStringLiteral("<span style=\"%1\">%2</span>").arg(QLatin1String(kMarkStyle), escaped)
            : escaped;
  };
  std::size_t at = from;
  for (const history::TSpan& mark : marks) {
    if (mark.begin < at || mark.end > text.size() || mark.end <= mark.begin) continue;
    add(at, mark.begin, false);
    add(mark.begin, mark.end, true);
    at = mark.end;
  }
  add(at, text.size(), false);
  return html;
}

// The worker's side: its store connection, used on its thread alone.
struct THistoryFrm::TWorker {
  std::string Path;
  std::unique_ptr<history::TStore> Store;
};

THistoryFrm::THistoryFrm(std::string path, bool enabled, QWidget* parent)
    : QDialog(parent),
      FPath(std::move(path)),
      FEnabled(enabled),
      FWorker(std::make_shared<TWorker>()),
      FLatest(std::make_shared<std::atomic<std::uint64_t>>(0)) {
  setObjectName(QStringLiteral("HistoryFrm"));
  setWindowTitle(QStringLiteral("History"));
  setModal(false);
  FWorker->Path = FPath;

  ConfirmClear = [](QWidget* owner) {
    return QMessageBox::question(owner, QStringLiteral("Clear history"),
                                 QStringLiteral("Delete every message kept in the history?\n"
                                                "This cannot be undone."),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  };

  FSearchEdt = new QLineEdit(this);
  FSearchEdt->setObjectName(QStringLiteral("SearchEdt"));
  FSearchEdt->setPlaceholderText(QStringLiteral("Words to find"));
  FSearchEdt->setClearButtonEnabled(true);
  FFromEdt = new QLineEdit(this);
  FFromEdt->setObjectName(QStringLiteral("FromEdt"));
  FFromEdt->setPlaceholderText(QStringLiteral("Any sender"));
  FFromEdt->setClearButtonEnabled(true);
  const auto dateEdit = [this](const char* name) {
    auto* edit = new QDateEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setMinimumDate(kAnyDate);
    edit->setSpecialValueText(QStringLiteral("Any day"));
    edit->setDate(kAnyDate);
    return edit;
  };
  FSinceDte = dateEdit("SinceDte");
  FUntilDte = dateEdit("UntilDte");

  FResultsTre = new QTreeWidget(this);
  FResultsTre->setObjectName(QStringLiteral("ResultsTre"));
  FResultsTre->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("From"),
                                QStringLiteral("To"), QStringLiteral("Message"),
                                QStringLiteral("Delivery")});
  FResultsTre->setRootIsDecorated(false);
  FResultsTre->setUniformRowHeights(true);
  FResultsTre->setAllColumnsShowFocus(true);
  FResultsTre->setItemDelegateForColumn(colMessage, new TMarkedDelegate(FResultsTre));
  FResultsTre->header()->setStretchLastSection(false);
  FResultsTre->header()->setSectionResizeMode(colMessage, QHeaderView::Stretch);

  FContextTxt = new QTextEdit(this);
  FContextTxt->setObjectName(QStringLiteral("ContextTxt"));
  FContextTxt->setReadOnly(true);
  FContextTxt->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  FContextTxt->setTabChangesFocus(true);
  FContextTxt->setUndoRedoEnabled(false);

  FResultLbl = new QLabel(this);
  FResultLbl->setObjectName(QStringLiteral("ResultLbl"));
  FResultLbl->setWordWrap(true);
  FResultLbl->setTextFormat(Qt::PlainText);
  FClearBtn = new QPushButton(QStringLiteral("C&lear history..."), this);
  FClearBtn->setObjectName(QStringLiteral("ClearBtn"));
  FClearBtn->setAutoDefault(false);
  FCloseBtn = new QPushButton(QStringLiteral("Close"), this);
  FCloseBtn->setObjectName(QStringLiteral("CloseBtn"));
  FCloseBtn->setAutoDefault(false);

  // Labels that name their fields, with keys to reach them.
  auto* fields = new QFormLayout;
  const auto label = [this](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, this);
    l->setBuddy(buddy);
    return l;
  };
  fields->addRow(label(QStringLiteral("&Search:"), FSearchEdt), FSearchEdt);
  auto* filters = new QHBoxLayout;
  filters->addWidget(FFromEdt, 2);
  filters->addWidget(label(QStringLiteral("Fro&m day:"), FSinceDte));
  filters->addWidget(FSinceDte);
  filters->addWidget(label(QStringLiteral("&To day:"), FUntilDte));
  filters->addWidget(FUntilDte);
  fields->addRow(label(QStringLiteral("Se&nder:"), FFromEdt), filters);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(FResultLbl, 1);
  buttons->addWidget(FClearBtn);
  buttons->addWidget(FCloseBtn);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(FResultsTre, 3);
  layout->addWidget(FContextTxt, 2);
  layout->addLayout(buttons);
  resize(760, 520);
  FResultsTre->setColumnWidth(colTime, 150);
  FResultsTre->setColumnWidth(colFrom, 90);
  FResultsTre->setColumnWidth(colTo, 90);
  FResultsTre->setColumnWidth(colDelivery, 120);

  setTabOrder(FSearchEdt, FFromEdt);
  setTabOrder(FFromEdt, FSinceDte);
  setTabOrder(FSinceDte, FUntilDte);
  setTabOrder(FUntilDte, FResultsTre);
  setTabOrder(FResultsTre, FContextTxt);
  setTabOrder(FContextTxt, FClearBtn);
  setTabOrder(FClearBtn, FCloseBtn);

  FSearchEdt->setAccessibleName(QStringLiteral("Search"));
  FSearchEdt->setAccessibleDescription(
      QStringLiteral("Words to find in the messages kept; the results follow as you type. "
                     "Enter or the down arrow moves to the results."));
  FFromEdt->setAccessibleName(QStringLiteral("Sender"));
  FFromEdt->setAccessibleDescription(
      QStringLiteral("Only messages whose sender's name holds these words; empty for any."));
  FSinceDte->setAccessibleName(QStringLiteral("From day"));
  FSinceDte->setAccessibleDescription(
      QStringLiteral("Only messages of this day or later; the earliest value means any day."));
  FUntilDte->setAccessibleName(QStringLiteral("To day"));
  FUntilDte->setAccessibleDescription(
      QStringLiteral("Only messages of this day or earlier; the earliest value means any day."));
  FResultsTre->setAccessibleName(QStringLiteral("Messages found"));
  FResultsTre->setAccessibleDescription(
      QStringLiteral("Newest first. Enter shows the chosen message with the messages around it."));
  FContextTxt->setAccessibleName(QStringLiteral("Conversation"));
  FContextTxt->setAccessibleDescription(
      QStringLiteral("The opened message, marked, with the messages before and after it."));
  FResultLbl->setAccessibleName(QStringLiteral("Search result"));
  FClearBtn->setAccessibleName(QStringLiteral("Clear history"));
  FClearBtn->setAccessibleDescription(
      QStringLiteral("Deletes every message kept in the history, after asking."));
  FCloseBtn->setAccessibleName(QStringLiteral("Close"));
  FCloseBtn->setAccessibleDescription(QStringLiteral("Closes the History window (Escape)."));

  FSearchTmr = new QTimer(this);
  FSearchTmr->setObjectName(QStringLiteral("SearchTmr"));
  FSearchTmr->setSingleShot(true);
  FSearchTmr->setInterval(kTypingPauseMs);
  connect(FSearchTmr, &QTimer::timeout, this, [this] { SearchNow(); });
  const auto later = [this] { FSearchTmr->start(); };
  connect(FSearchEdt, &QLineEdit::textChanged, this, later);
  connect(FFromEdt, &QLineEdit::textChanged, this, later);
  connect(FSinceDte, &QDateEdit::dateChanged, this, later);
  connect(FUntilDte, &QDateEdit::dateChanged, this, later);
  for (QLineEdit* edit : {FSearchEdt, FFromEdt}) {
    connect(edit, &QLineEdit::returnPressed, this, [this] {
      SearchNow();
      FResultsTre->setFocus();
    });
    edit->installEventFilter(this);
  }
  connect(FResultsTre, &QTreeWidget::itemActivated, this, [this] { OpenCurrent(); });
  connect(FClearBtn, &QPushButton::clicked, this, [this] { ClearHistory(); });
  connect(FCloseBtn, &QPushButton::clicked, this, &QDialog::close);

  FThread = new QThread(this);
  FThread->setObjectName(QStringLiteral("HistorySearch"));
  FWorkerCtx = new QObject;
  FWorkerCtx->moveToThread(FThread);
  FThread->start(QThread::LowPriority);

  FResultLbl->setText(FEnabled ? QString()
                               : QStringLiteral("History is off (Settings: History=0); "
                                                "what was kept before can still be searched."));
  FSearchEdt->setFocus();
}

THistoryFrm::~THistoryFrm() {
  // No job runs once the thread has ended: none can reach this window after it.
  FThread->quit();
  FThread->wait();
  delete FWorkerCtx;
}

void THistoryFrm::keyPressEvent(QKeyEvent* event) {
  // Enter outside the list and the fields presses no button: Escape closes.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool THistoryFrm::eventFilter(QObject* watched, QEvent* event) {
  // The down arrow in a field goes to the results.
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down &&
      (watched == FSearchEdt || watched == FFromEdt) && FResultsTre->topLevelItemCount() > 0) {
    FResultsTre->setFocus();
    if (FResultsTre->currentItem() == nullptr)
      FResultsTre->setCurrentItem(FResultsTre->topLevelItem(0));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void THistoryFrm::Post(std::function<void(history::TStore*, const std::string&)> job) {
  QMetaObject::invokeMethod(
      FWorkerCtx,
      [worker = FWorker, job = std::move(job)] {
        std::string why;
        if (!worker->Store) {
          // Opened on the first query; tried again later while there is none yet.
          auto opened = history::TStore::OpenExisting(worker->Path);
          if (opened) {
            worker->Store = std::move(opened.Value());
          } else {
            why = opened.Error().text;
          }
        }
        job(worker->Store.get(), why);
      },
      Qt::QueuedConnection);
}

history::TQuery THistoryFrm::CurrentQuery() const {
  history::TQuery query;
  query.words = FSearchEdt->text().toStdString();
  query.from = FFromEdt->text().toStdString();
  if (FSinceDte->date() > kAnyDate)
    query.sinceMs = FSinceDte->date().startOfDay().toMSecsSinceEpoch();
  if (FUntilDte->date() > kAnyDate)
    query.untilMs = FUntilDte->date().addDays(1).startOfDay().toMSecsSinceEpoch();
  query.limit = kMaxResults;
  query.prefixLastWord = true;
  return query;
}

void THistoryFrm::SearchNow() {
  FSearchTmr->stop();
  const std::uint64_t generation = ++*FLatest;
  Post([this, generation, latest = FLatest, query = CurrentQuery()](history::TStore* store,
                                                                    const std::string& why) {
    // A newer search was asked for meanwhile: this one is not run.
    if (latest->load() != generation) return;
    runtime::TResult<std::vector<history::THit>> hits =
        store != nullptr ? store->Search(query)
                         : runtime::TResult<std::vector<history::THit>>(runtime::TError{0, why});
    QMetaObject::invokeMethod(
        this,
        [this, generation, hits = std::move(hits)]() mutable {
          ShowResults(generation, std::move(hits));
        },
        Qt::QueuedConnection);
  });
}

void THistoryFrm::ShowResults(std::uint64_t generation,
                              runtime::TResult<std::vector<history::THit>> hits) {
  if (generation != FLatest->load()) return;  // a newer one is on its way
  FResultsTre->setUpdatesEnabled(false);
  FResultsTre->clear();
  if (!hits) {
    FResultLbl->setText(
        QStringLiteral("No messages kept yet (%1)").arg(QString::fromStdString(hits.Error().text)));
  } else {
    const auto& list = hits.Value();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(list.size()));
    for (const history::THit& hit : list) {
      const history::TMessage& m = hit.message;
      QString plain = U(m.text);
      plain.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
      plain.replace(QLatin1Char('\n'), QLatin1Char(' '));
      auto* item =
          new QTreeWidgetItem({U(history::LocalTimeText(m.timeMs)), U(m.sender), U(m.receiver),
                               plain.left(300), U(history::DeliveryText(m))});
      item->setData(colTime, kIdRole, QVariant::fromValue<qlonglong>(m.id));
      item->setData(colMessage, kHtmlRole, MarkedHtml(m.text, hit.marks, 300));
      item->setToolTip(colMessage, plain.left(1000));
      items.append(item);
    }
    FResultsTre->addTopLevelItems(items);
    if (!items.isEmpty()) FResultsTre->setCurrentItem(items.first());
    const QString count = list.size() == 1 ? QStringLiteral("1 message")
                                           : QStringLiteral("%1 messages").arg(list.size());
    FResultLbl->setText(list.empty() ? QStringLiteral("No message found")
                        : list.size() >= kMaxResults
                            ? QStringLiteral("The newest %1 found").arg(count)
                            : count + QStringLiteral(" found"));
  }
  FResultsTre->setUpdatesEnabled(true);
  emit Searched();
}

void THistoryFrm::OpenCurrent() {
  QTreeWidgetItem* item = FResultsTre->currentItem();
  if (item == nullptr) return;
  const std::int64_t id = item->data(colTime, kIdRole).toLongLong();
  Post([this, id](history::TStore* store, const std::string& why) {
    runtime::TResult<std::vector<history::TMessage>> messages =
        store != nullptr
            ? store->Neighbours(id, kNeighbours, kNeighbours)
            : runtime::TResult<std::vector<history::TMessage>>(runtime::TError{0, why});
    QMetaObject::invokeMethod(
        this,
        [this, id, messages = std::move(messages)]() mutable {
          ShowNeighbours(id, std::move(messages));
        },
        Qt::QueuedConnection);
  });
}

void THistoryFrm::ShowNeighbours(std::int64_t id,
                                 runtime::TResult<std::vector<history::TMessage>> messages) {
  if (!messages) {
    FContextTxt->setPlainText(QString::fromStdString(messages.Error().text));
    emit Opened();
    return;
  }
  QString html;
  for (const history::TMessage& m : messages.Value()) {
    const bool opened = m.id == id;
    html += opened ? QStringLiteral(
                         "<a name=\"opened\"></a><table width=\"100%\" "
                         "style=\"background-color:#ffe36e;color:#000000\"><tr><td>")
                   : QStringLiteral("<p>");
    html += QStringLiteral("<span style=\"color:#707070\">%1</span> <b>%2</b> to <b>%3</b>")
                .arg(Escaped(U(history::LocalTimeText(m.timeMs)), true), Escaped(U(m.sender), true),
                     Escaped(U(m.receiver), true));
    if (m.direction == history::TDirection::Out)
      html += QStringLiteral(" <i>(%1)</i>").arg(Escaped(U(history::DeliveryText(m)), true));
    html += QStringLiteral("<br>") + Escaped(U(m.text), false);
    html += opened ? QStringLiteral("</td></tr></table>") : QStringLiteral("</p>");
  }
  FContextTxt->setHtml(html);
  // The opened message a third of the way down: the ones before it in sight too.
  FContextTxt->scrollToAnchor(QStringLiteral("opened"));
  if (QScrollBar* bar = FContextTxt->verticalScrollBar())
    bar->setValue(bar->value() - FContextTxt->viewport()->height() / 3);
  emit Opened();
}

void THistoryFrm::ClearHistory() {
  if (!ConfirmClear(this)) return;
  Post([this](history::TStore* store, const std::string& why) {
    const runtime::TResult<void> cleared =
        store != nullptr ? store->Clear() : runtime::TResult<void>(runtime::TError{0, why});
    const QString text = cleared ? QStringLiteral("History cleared")
                                 : QStringLiteral("History not cleared: %1")
                                       .arg(QString::fromStdString(cleared.Error().text));
    QMetaObject::invokeMethod(
        this,
        [this, text] {
          FResultsTre->clear();
          FContextTxt->clear();
          FResultLbl->setText(text);
        },
        Qt::QueuedConnection);
  });
}

QAction* AddHistoryCommand(QMenu& menu, QWidget& window, const THistoryLog& log) {
  QAction* action = menu.addAction(QStringLiteral("&History..."));
  action->setObjectName(QStringLiteral("History1"));
  action->setShortcut(QKeySequence::Find);
  window.addAction(action);  // Ctrl+F wherever the window has the keyboard
  auto frm = std::make_shared<QPointer<THistoryFrm>>();
  QObject::connect(action, &QAction::triggered, &window, [&window, &log, frm] {
    if (frm->isNull()) {
      *frm = new THistoryFrm(log.Path().empty() ? history::DefaultPath() : log.Path(),
                             log.Settings().enabled, &window);
    }
    THistoryFrm* shown = frm->data();
    shown->show();
    shown->raise();
    shown->activateWindow();
    shown->SearchNow();
  });
  return action;
}

}  // namespace pling::app

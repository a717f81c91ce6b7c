// SPDX-License-Identifier: GPL-3.0-or-later
// The yardstick for the program's start-up figures: the least a Qt Widgets program
// with a comparable window does (two text panes, a list, a button bar), with no
// settings, no messenger and no notification area.
#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Bare"));
  auto* layout = new QVBoxLayout(&window);
  auto* panes = new QSplitter(Qt::Horizontal);
  auto* texts = new QSplitter(Qt::Vertical);
  texts->addWidget(new QPlainTextEdit);
  texts->addWidget(new QPlainTextEdit);
  panes->addWidget(texts);
  panes->addWidget(new QListWidget);
  layout->addWidget(panes, 1);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QPushButton(QStringLiteral("&Start")));
  bar->addStretch(1);
  layout->addLayout(bar);
  window.resize(448, 400);
  window.show();
  return QApplication::exec();
}

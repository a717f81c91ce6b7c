// SPDX-License-Identifier: GPL-3.0-or-later
#include "qtbridge/WarningBox.h"

#include <QApplication>
#include <QMessageBox>

#include "qtbridge/AnsiText.h"

namespace pling::qtbridge {

void ShowWarningBox(const std::string& caption, const std::string& text) {
  QString message = FromAnsi(text);
  message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  message.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QMessageBox::warning(QApplication::activeWindow(), FromAnsi(caption), message, QMessageBox::Ok);
}

}  // namespace pling::qtbridge

// SPDX-License-Identifier: GPL-3.0-or-later
// The core's warning as the user sees it: a message box with the caption and
// the text, each carriage return a line break.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "qtbridge/WarningBox.h"
#include "settings/FormSize.h"

namespace pling::qtbridge {
namespace {

using settings::TFormSizer;

TEST(WarningBox, BreaksTheLineAtTheCarriageReturn) {
  QString caption;
  QString text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    text = box->text();
    box->accept();
  });
  ShowWarningBox(TFormSizer::kWarningCaption, TFormSizer::kWarningText);
  EXPECT_EQ(caption, "Warning");
  EXPECT_EQ(text, "TFormSizer error.\nComponent's owner must be a form.");
}

}  // namespace
}  // namespace pling::qtbridge

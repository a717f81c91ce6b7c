// SPDX-License-Identifier: GPL-3.0-or-later
// What reaches the event loop from a failing handler is shown in a message box,
// and the program goes on.
#include <QObject>
#include <stdexcept>

#include "app_fixture.h"

namespace pling::testing {
namespace {

using ErrorHandlerTest = AppTest;

TEST_F(ErrorHandlerTest, AnExceptionInAnEventHandlerIsShownAndTheProgramGoesOn) {
  QObject target;
  QObject::connect(&target, &QObject::objectNameChanged,
                   [] { throw std::runtime_error("handler failed"); });
  QMetaObject::invokeMethod(
      &target, [&] { target.setObjectName(QStringLiteral("x")); }, Qt::QueuedConnection);
  QTest::qWait(20);
  ASSERT_EQ(FMessages.size(), 1);
  EXPECT_EQ(FMessages[0], QStringLiteral("handler failed"));
}

}  // namespace
}  // namespace pling::testing

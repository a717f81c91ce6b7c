// SPDX-License-Identifier: GPL-3.0-or-later
#include "qt_environment.h"

PLING_QT_TEST_ENVIRONMENT("pling_qtbridge_tests");

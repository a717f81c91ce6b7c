// SPDX-License-Identifier: GPL-3.0-or-later
#include "app_fixture.h"

// The application object lives for the whole test program.
static ::testing::Environment* const kAppEnvironment =
    ::testing::AddGlobalTestEnvironment(new pling::testing::AppEnvironment);

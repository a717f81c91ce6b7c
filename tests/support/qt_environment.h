// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One application object for the whole test program, on the offscreen platform
// unless the environment chose another. A test program registers it once:
//   PLING_QT_TEST_ENVIRONMENT("pling_qtbridge_tests");
// or registers a subclass that makes an application of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>

namespace pling::testing {

class QtEnvironment : public ::testing::Environment {
 public:
  explicit QtEnvironment(const char* programName) : FName(programName) {}
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    FArgv[0] = FName.data();
    FApp = MakeApplication(FArgc, FArgv);
  }
  void TearDown() override { FApp.reset(); }

 protected:
  // The application object; Qt keeps `argc` and `argv`, which live as long as
  // this environment.
  virtual std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv) {
    return std::make_unique<QApplication>(argc, argv);
  }

 private:
  std::string FName;
  int FArgc = 1;
  char* FArgv[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> FApp;
};

}  // namespace pling::testing

#define PLING_QT_TEST_ENVIRONMENT(name)                                  \
  [[maybe_unused]] static ::testing::Environment* const kQtEnvironment = \
      ::testing::AddGlobalTestEnvironment(new ::pling::testing::QtEnvironment(name))

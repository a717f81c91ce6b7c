// SPDX-License-Identifier: GPL-3.0-or-later
// `pling-cli settings` as a user runs it: a write racing other writers of the same
// key reports its own result, and failures name the file and the cause.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "child_process.h"
#include "platform/registry.h"
#include "temp_config.h"

namespace pling::settings {
namespace {

namespace fs = std::filesystem;

class CliSettingsFilesTest : public pling::testing::TempConfigTest {
 protected:
  void SetUp() override {
    TempConfigTest::SetUp();
    FCli = pling::testing::TestProgram("pling-cli");
    if (!fs::exists(FCli)) GTEST_SKIP() << "pling-cli is not built at " << FCli;
  }

  struct Result {
    int status = -1;
    std::string err;
  };
  // Runs a shell command line with $CLI standing for pling-cli; its standard error.
  Result Run(const std::string& script) const {
    const std::string errFile = Root() + "/stderr";
    const std::string command = "CLI='" + FCli + "'; export XDG_CONFIG_HOME='" + Root() + "'; (" +
                                script + ") 2>'" + errFile + "'";
    Result result;
    const int status = std::system(command.c_str());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = FileText(errFile);
    return result;
  }

  std::string FCli;
};

TEST_F(CliSettingsFilesTest, ASetRacingOtherWritersReportsItsOwnWrite) {
  // Two writers of the same key at once, each counting its failures.
  const Result result =
      Run("for w in A B C; do (for i in $(seq 40); do \"$CLI\" settings set Race Key $w$i || "
          "echo fail >&2; done) & done; wait");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST_F(CliSettingsFilesTest, FailuresNameTheFileAndTheCause) {
  const std::string hive = (ConfigDir() / "registry.reg").string();
  fs::create_directories(hive);
  Result result = Run("\"$CLI\" settings set Settings Split 1");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(hive + ": is a folder, not a file"), std::string::npos) << result.err;
  result = Run("\"$CLI\" settings get Settings Split");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(hive + ": is a folder, not a file"), std::string::npos) << result.err;

  fs::remove(hive);
  ASSERT_EQ(Run("\"$CLI\" settings set Settings Split 1").status, 0);
  fs::permissions(hive, fs::perms::owner_read);
  result = Run("\"$CLI\" settings set Settings Split 2");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(hive + ": Permission denied"), std::string::npos) << result.err;
  // An absent value is only that.
  result = Run("\"$CLI\" settings get Settings Nothing");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Settings Nothing is not set"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace pling::settings

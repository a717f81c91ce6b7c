// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fixture that gives each test a fresh, empty configuration folder (through
// XDG_CONFIG_HOME), so that INI files and the registry hive start empty, and a
// fresh data folder (XDG_DATA_HOME, its "data" folder), so that the message
// history does too.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "files.h"

namespace pling::testing {

class TempConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) FOldConfigHome = old;
    if (const char* old = std::getenv("XDG_DATA_HOME")) FOldDataHome = old;
    std::string pattern = (std::filesystem::temp_directory_path() / "pling-config-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FRoot = pattern;
    setenv("XDG_CONFIG_HOME", FRoot.c_str(), 1);
    setenv("XDG_DATA_HOME", (FRoot + "/data").c_str(), 1);
  }

  void TearDown() override {
    if (FOldConfigHome) {
      setenv("XDG_CONFIG_HOME", FOldConfigHome->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    if (FOldDataHome) {
      setenv("XDG_DATA_HOME", FOldDataHome->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(FRoot, ignored);
  }

  // The temporary folder itself, which XDG_CONFIG_HOME points to.
  const std::string& Root() const { return FRoot; }

  // The folder that holds profile files and the registry hive.
  std::filesystem::path ConfigDir() const { return std::filesystem::path(FRoot) / "pling"; }
  std::filesystem::path HivePath() const { return ConfigDir() / "registry.reg"; }

  static std::string FileText(const std::filesystem::path& path) {
    return ::pling::testing::FileText(path);
  }

  // Whether anything at all was written into the configuration folder.
  bool ConfigDirEmpty() const {
    return !std::filesystem::exists(ConfigDir()) || std::filesystem::is_empty(ConfigDir());
  }

 private:
  std::string FRoot;
  std::optional<std::string> FOldConfigHome;
  std::optional<std::string> FOldDataHome;
};

}  // namespace pling::testing

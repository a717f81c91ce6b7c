// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/identity.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/version.h"

namespace pling::platform {
namespace {

TEST(IdentityTest, ComputerNameIsTheFirstLabelUpperCasedAndCut) {
  const TCodePages saved = ActiveCodePages();
  ASSERT_TRUE(SelectCodePages(1252));
  EXPECT_EQ(ComputerNameFromHostName("my-laptop.example.org"), "MY-LAPTOP");
  EXPECT_EQ(ComputerNameFromHostName("Build7"), "BUILD7");
  EXPECT_EQ(ComputerNameFromHostName("averyveryverylonghostname.lan"), "AVERYVERYVERYLO");
  EXPECT_EQ(ComputerNameFromHostName(""), "LOCALHOST");
  EXPECT_EQ(ComputerNameFromHostName(".lan"), "LOCALHOST");
  // Non-ASCII letters arrive in UTF-8 and leave in the ANSI page; the cut counts characters.
  EXPECT_EQ(ComputerNameFromHostName("caf\u00E9"), "CAF\xC9");
  EXPECT_EQ(ComputerNameFromHostName("\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9"
                                     "\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9"),
            std::string(15, '\xC9'));
  SelectCodePages(saved.ansi);
}

TEST(IdentityTest, ThisComputerIsRecognisedByItsNameInAnyCase) {
  const std::string name = GetComputerName();
  ASSERT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  EXPECT_EQ(name.find('.'), std::string::npos);
  EXPECT_TRUE(std::none_of(name.begin(), name.end(), [](char c) { return c >= 'a' && c <= 'z'; }));

  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
  EXPECT_TRUE(IsLocalMachine("."));
  EXPECT_TRUE(IsLocalMachine(name));
  EXPECT_TRUE(IsLocalMachine(lower));
  EXPECT_FALSE(IsLocalMachine(""));
  EXPECT_FALSE(IsLocalMachine(".."));
  EXPECT_FALSE(IsLocalMachine("no such machine"));
}

TEST(IdentityTest, UserNameComesFromThePasswordDatabase) {
  const std::string name = GetUserName();
  ASSERT_FALSE(name.empty());
  if (const passwd* entry = getpwuid(geteuid()); entry != nullptr) {
    EXPECT_EQ(name, Utf8ToAnsi(entry->pw_name));
  }
}

TEST(IdentityTest, MajorInTheLowByteMinorInTheNext) {
  EXPECT_EQ(VersionFromRelease("6.1.0-13-amd64"), 0x0106u);
  EXPECT_EQ(VersionFromRelease("5.15.90.1-custom-standard"), 5u | (15u << 8));
  EXPECT_EQ(VersionFromRelease("4"), 4u);
  EXPECT_EQ(VersionFromRelease("3.x"), 3u);
  EXPECT_EQ(VersionFromRelease("300.1000"), 255u | (255u << 8));
  EXPECT_EQ(VersionFromRelease(""), 0u);
  EXPECT_EQ(VersionFromRelease(".5"), 0u);
  EXPECT_GT(GetVersion() & 0xFFu, 0u);
  EXPECT_EQ(GetVersion() >> 16, 0u);
}

// Sets an environment variable for the scope of a test and puts the old value back.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvironmentVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  EnvironmentVariable(const EnvironmentVariable&) = delete;
  EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(IdentityTest, FilesLiveInTheConfigFolderNamedByTheEnvironment) {
  EnvironmentVariable home("HOME", "/home/tester");
  {
    EnvironmentVariable xdg("XDG_CONFIG_HOME", "/srv/conf/");
    EXPECT_EQ(ConfigDirectory(), "/srv/conf/pling");
    EXPECT_EQ(WindowsDirectory(), "/srv/conf/pling");
    EXPECT_EQ(RegistryHivePath(), "/srv/conf/pling/registry.reg");
  }
  {
    EnvironmentVariable xdg("XDG_CONFIG_HOME", "relative/conf");  // ignored: not absolute
    EXPECT_EQ(ConfigDirectory(), "/home/tester/.config/pling");
  }
  {
    EnvironmentVariable xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ConfigDirectory(), "/home/tester/.config/pling");
    EXPECT_EQ(RegistryHivePath(), "/home/tester/.config/pling/registry.reg");
  }
}

TEST(IdentityTest, AskingForTheFolderDoesNotCreateIt) {
  char pattern[] = "/tmp/pling-paths-XXXXXX";
  const char* base = mkdtemp(pattern);
  ASSERT_NE(base, nullptr);
  {
    EnvironmentVariable xdg("XDG_CONFIG_HOME", base);
    const std::string folder = ConfigDirectory();
    EXPECT_EQ(folder, std::string(base) + "/pling");
    struct stat info {};
    EXPECT_NE(stat(folder.c_str(), &info), 0);
  }
  rmdir(base);
}

}  // namespace
}  // namespace pling::platform

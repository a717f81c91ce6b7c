// SPDX-License-Identifier: GPL-3.0-or-later
// Settings files under crashes and concurrent writers: a writer killed at any
// moment leaves a file that reads as before or after its last write, and writers
// in different processes lose none of each other's values.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "platform/hive_parser.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "temp_config.h"

namespace pling::platform {
namespace {

namespace fs = std::filesystem;

class SettingsDurabilityTest : public pling::testing::TempConfigTest {
 protected:
  // Runs `body` in a child process; its exit status is 0 when `body` returns true.
  static pid_t Spawn(const std::function<bool()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body() ? 0 : 1);
    return pid;
  }
  static int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }

  // Kills a child that writes `write(1)`, `write(2)`, ... in a tight loop at random
  // moments, and checks the file after each kill with `check` (which returns the
  // number of the write it sees, 0 for the initial value).
  static void KillWritersRepeatedly(const std::function<bool(int)>& write,
                                    const std::function<int()>& check) {
    std::mt19937 random(7);
    int latest = 0;
    for (int round = 0; round < 40; ++round) {
      int started[2];
      ASSERT_EQ(::pipe(started), 0);
      const pid_t pid = Spawn([&] {
        for (int i = 1;; ++i) {
          if (!write(i)) return false;
          // The first round waits for one write to complete (slow builds start
          // slowly); later rounds kill at any moment.
          if (i == 1 && ::write(started[1], "1", 1) != 1) return false;
        }
      });
      ASSERT_GT(pid, 0);
      ::close(started[1]);
      if (round == 0) {
        char byte;
        ASSERT_EQ(::read(started[0], &byte, 1), 1);
      }
      ::usleep(static_cast<useconds_t>(random() % 8000));
      ::kill(pid, SIGKILL);
      const int status = Wait(pid);
      ::close(started[0]);
      ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own";
      const int seen = check();
      if (HasFailure()) return;
      latest = std::max(latest, seen);
    }
    EXPECT_GT(latest, 0) << "no write ever completed; the test saw nothing";
  }

  // Value number i: the number, then a fill character that depends on it, so a
  // value mixed from two writes or cut short is recognised.
  static std::string Value(int i, std::size_t fill) {
    return std::to_string(i) + ":" + std::string(fill, static_cast<char>('a' + i % 26));
  }
  // The number of a value made by Value(), or -1.
  static int NumberOf(const std::string& value, std::size_t fill) {
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0) return -1;
    const int i = std::atoi(value.substr(0, colon).c_str());
    return value == Value(i, fill) ? i : -1;
  }

  static std::string ReadProfile(const std::string& section, const std::string& key) {
    char buffer[1024];
    const DWORD count = GetPrivateProfileString(section, key, "<none>", buffer, 1024, "Pling");
    return std::string(buffer, count);
  }
  static std::string QueryHive(const std::string& subKey) {
    char buffer[256];
    LONG size = sizeof buffer;
    if (RegQueryValue(HKEY_CLASSES_ROOT, subKey, buffer, &size) != ERROR_SUCCESS) return "<none>";
    return buffer;
  }
};

TEST_F(SettingsDurabilityTest, KilledProfileWriterLeavesTheOldOrTheNewValue) {
  constexpr std::size_t kFill = 300;
  // Keys before and after the one being rewritten: a cut-short file loses some.
  for (int k = 0; k < 10; ++k) {
    ASSERT_TRUE(WritePrivateProfileString("Before", "K" + std::to_string(k), "b", "Pling"));
  }
  ASSERT_TRUE(WritePrivateProfileString("Settings", "Value", Value(0, kFill), "Pling"));
  for (int k = 0; k < 10; ++k) {
    ASSERT_TRUE(WritePrivateProfileString("After", "K" + std::to_string(k), "a", "Pling"));
  }
  KillWritersRepeatedly(
      [](int i) {
        return WritePrivateProfileString("Settings", "Value", Value(i, kFill), "Pling");
      },
      [] {
        for (int k = 0; k < 10; ++k) {
          EXPECT_EQ(ReadProfile("Before", "K" + std::to_string(k)), "b");
          EXPECT_EQ(ReadProfile("After", "K" + std::to_string(k)), "a");
        }
        const std::string value = ReadProfile("Settings", "Value");
        const int number = NumberOf(value, kFill);
        EXPECT_GE(number, 0) << value;
        return number;
      });
}

TEST_F(SettingsDurabilityTest, KilledRegistryWriterLeavesTheOldOrTheNewValue) {
  constexpr std::size_t kFill = 200;
  HKEY key = 0;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key), ERROR_SUCCESS);
  for (int k = 0; k < 10; ++k) {
    ASSERT_EQ(RegSetValue(key, "A\\K" + std::to_string(k), REG_SZ, "a"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValue(key, "Z\\K" + std::to_string(k), REG_SZ, "z"), ERROR_SUCCESS);
  }
  ASSERT_EQ(RegSetValue(key, "Settings\\Value", REG_SZ, Value(0, kFill)), ERROR_SUCCESS);
  KillWritersRepeatedly(
      [key](int i) {
        return RegSetValue(key, "Settings\\Value", REG_SZ, Value(i, kFill)) == ERROR_SUCCESS;
      },
      [] {
        // The file is whole: exactly as this program writes it.
        const std::string text = FileText(RegistryHivePath());
        EXPECT_EQ(SerializeHive(ParseHive(text)), text);
        for (int k = 0; k < 10; ++k) {
          EXPECT_EQ(QueryHive("Corvid\\Pling\\A\\K" + std::to_string(k)), "a");
          EXPECT_EQ(QueryHive("Corvid\\Pling\\Z\\K" + std::to_string(k)), "z");
        }
        const std::string value = QueryHive("Corvid\\Pling\\Settings\\Value");
        const int number = NumberOf(value, kFill);
        EXPECT_GE(number, 0) << value;
        return number;
      });
  RegCloseKey(key);
}

TEST_F(SettingsDurabilityTest, ConcurrentWritersLoseNoValue) {
  constexpr int kKeys = 200;
  // Both kinds of file at once, two processes each, writing different keys.
  const auto writer = [](char who) {
    return [who] {
      HKEY key = 0;
      if (RegCreateKey(HKEY_CLASSES_ROOT, "Corvid\\Pling", &key) != ERROR_SUCCESS) return false;
      for (int k = 0; k < kKeys; ++k) {
        const std::string name = std::string(1, who) + std::to_string(k);
        if (!WritePrivateProfileString("Race", name, name, "Pling")) return false;
        if (RegSetValue(key, "Race\\" + name, REG_SZ, name) != ERROR_SUCCESS) return false;
      }
      return RegCloseKey(key) == ERROR_SUCCESS;
    };
  };
  const pid_t first = Spawn(writer('A'));
  const pid_t second = Spawn(writer('B'));
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_EQ(Wait(first), 0);
  EXPECT_EQ(Wait(second), 0);

  int lost = 0;
  for (const char who : {'A', 'B'}) {
    for (int k = 0; k < kKeys; ++k) {
      const std::string name = std::string(1, who) + std::to_string(k);
      if (ReadProfile("Race", name) != name) ++lost;
      if (QueryHive("Corvid\\Pling\\Race\\" + name) != name) ++lost;
    }
  }
  EXPECT_EQ(lost, 0);
  // Each writer removed its lock file as it let go: nothing is left beside the
  // settings.
  for (const fs::directory_entry& entry : fs::directory_iterator(ConfigDirectory())) {
    EXPECT_NE(entry.path().extension(), ".lock") << entry.path();
  }
}

}  // namespace
}  // namespace pling::platform

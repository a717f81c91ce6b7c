// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailslot_service.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "files.h"
#include "platform/codepage.h"
#include "platform/identity.h"

namespace pling::platform {
namespace {

using namespace std::chrono_literals;

// A slot name of this test program that no other test uses.
std::string UniqueName(const std::string& stem) {
  return pling::testing::UniqueName("svc" + stem);
}

std::string LocalPath(const std::string& name) {
  return "\\\\.\\mailslot\\" + name;
}

// Closes a handle at the end of a test.
class THandleGuard {
 public:
  explicit THandleGuard(HANDLE handle) : FHandle(handle) {}
  ~THandleGuard() {
    if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
  }
  THandleGuard(const THandleGuard&) = delete;
  THandleGuard& operator=(const THandleGuard&) = delete;
  HANDLE Get() const { return FHandle; }
  bool Close() { return CloseHandle(std::exchange(FHandle, INVALID_HANDLE_VALUE)); }

 private:
  HANDLE FHandle;
};

HANDLE OpenForWriting(const std::string& path) {
  return CreateFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

// Writes one message the way the mailslot writer does; false when it was not
// taken whole.
bool Write(const std::string& path, const std::string& data) {
  const HANDLE file = OpenForWriting(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written) &&
                  written == data.size();
  EXPECT_TRUE(CloseHandle(file));
  return ok;
}

struct TInfo {
  DWORD nextSize = 0;
  DWORD count = 0;
};

TInfo Info(HANDLE slot) {
  TInfo info;
  EXPECT_TRUE(GetMailslotInfo(slot, nullptr, &info.nextSize, &info.count, nullptr));
  return info;
}

// Reads the next message; fails the test when there is none.
std::string Read(HANDLE slot) {
  std::string buffer(70000, '\0');
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(slot, buffer.data(), static_cast<DWORD>(buffer.size()), &read))
      << GetLastError();
  buffer.resize(read);
  return buffer;
}

TEST(MailslotServiceTest, RejectsMalformedPaths) {
  const std::string name = UniqueName("bad");
  const std::vector<std::string> bad = {
      "",
      name,
      "\\\\.\\mailslot\\",
      "\\.\\mailslot\\" + name,
      "\\\\.\\pipe\\" + name,
      "\\\\\\mailslot\\" + name,
      "\\\\.\\mailslotx\\" + name,
      "\\\\.\\mailslot\\\\" + name,
      "\\\\.\\mailslot\\" + name + "\\",
      "\\\\.\\mailslot\\a\\\\b",
      "\\\\.\\mailslot\\a*b",
      "\\\\.\\mailslot\\a?b",
      "\\\\.\\mailslot\\a|b",
      "\\\\.\\mailslot\\a:b",
      "\\\\.\\mailslot\\a<b>",
      "\\\\.\\mailslot\\a/b",
      "\\\\.\\mailslot\\a\"b",
      "\\\\.\\mailslot\\a\tb",
      std::string("\\\\.\\mailslot\\a\0b", 16),
      "\\\\.\\mailslot\\a\x7F",
      "\\\\.\\mailslot\\" + std::string(99, 'x'),  // longer than a socket name holds
      "\\\\OTHERBOX\\mailslot\\" + name,           // only this machine's mailslots are created
  };
  for (const std::string& path : bad) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateMailslot(path, 0, 0), INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME) << path;
  }
  for (const std::string& path : {std::string(""), std::string("\\\\.\\mailslot\\a?b"),
                                  std::string("\\\\.\\mailslot\\") + std::string(99, 'x'),
                                  std::string("\\\\.\\nothing\\x")}) {
    EXPECT_EQ(OpenForWriting(path), INVALID_HANDLE_VALUE) << path;
    EXPECT_EQ(GetLastError(), ERROR_BAD_PATHNAME) << path;
  }
}

TEST(MailslotServiceTest, AcceptsNestedNamesAnyCaseKeywordAndLongestName) {
  const std::string longest = UniqueName("l");
  for (const std::string& path :
       {"\\\\.\\MailSlot\\" + UniqueName("case"), LocalPath(UniqueName("dir") + "\\sub\\x"),
        LocalPath(longest + std::string(98 - longest.size(), 'y'))}) {
    THandleGuard slot(CreateMailslot(path, 0, 0));
    ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE) << path << " " << GetLastError();
    ASSERT_TRUE(Write(path, "ok")) << path;
    EXPECT_EQ(Read(slot.Get()), "ok");
  }
}

TEST(MailslotServiceTest, NamesAreCaseInsensitiveAndHeldOnce) {
  const std::string name = UniqueName("Dup");
  THandleGuard slot(CreateMailslot(LocalPath(name), 0, 0));
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);
  std::string upper = name;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_EQ(CreateMailslot(LocalPath(upper), 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  ASSERT_TRUE(Write("\\\\.\\MAILSLOT\\" + lower, "to any case"));
  EXPECT_EQ(Read(slot.Get()), "to any case");
}

// Folding is that of the ANSI page the name is in, not of ASCII only; what has no
// capital of its own (ß) is no other letter's small form.
TEST(MailslotServiceTest, NamesFoldCaseInTheAnsiCodePage) {
  const TCodePages saved = ActiveCodePages();
  ASSERT_TRUE(SelectCodePages(1252));
  const std::string stem = UniqueName("cp");
  THandleGuard slot(CreateMailslot(LocalPath("gr\xE4n" + stem), 0, 0));  // grän
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateMailslot(LocalPath("GR\xC4N" + stem), 0, 0), INVALID_HANDLE_VALUE);  // GRÄN
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  ASSERT_TRUE(Write("\\\\.\\mailslot\\gR\xC4n" + stem, "one name"));
  EXPECT_EQ(Read(slot.Get()), "one name");
  THandleGuard sharp(CreateMailslot(LocalPath("stra\xDF"
                                              "e" +
                                              stem),
                                    0, 0));  // straße
  THandleGuard doubled(CreateMailslot(LocalPath("STRASSE" + stem), 0, 0));
  EXPECT_NE(sharp.Get(), INVALID_HANDLE_VALUE);
  EXPECT_NE(doubled.Get(), INVALID_HANDLE_VALUE);

  ASSERT_TRUE(SelectCodePages(1251));
  THandleGuard cyrillic(CreateMailslot(LocalPath("\xE6" + stem), 0, 0));  // ж
  ASSERT_NE(cyrillic.Get(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateMailslot(LocalPath("\xC6" + stem), 0, 0), INVALID_HANDLE_VALUE);  // Ж
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  SelectCodePages(saved.ansi);
}

// Started as the other process of the test below (the test program run again
// with this variable set), the program holds a mailslot until it is killed.
constexpr const char* kHolderVariable = "PLING_TEST_MAILSLOT_HOLDER";  // "FD:PATH"

[[maybe_unused]] const bool kHolderProcess = [] {
  const char* holder = std::getenv(kHolderVariable);
  if (holder == nullptr) return false;
  const std::string value(holder);
  const int fd = std::atoi(value.c_str());
  const std::string path = value.substr(value.find(':') + 1);
  const char result = CreateMailslot(path, 0, 0) != INVALID_HANDLE_VALUE ? 'y' : 'n';
  (void)!::write(fd, &result, 1);
  for (;;) ::pause();
}();

TEST(MailslotServiceTest, NameHeldByAnotherProcessIsFreedWhenItDies) {
  const std::string path = LocalPath(UniqueName("proc"));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const std::string holder = std::to_string(ready[1]) + ":" + path;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A fresh program: a forked copy of this threaded one may not start threads.
    ::close(ready[0]);
    ::setenv(kHolderVariable, holder.c_str(), 1);
    ::execl("/proc/self/exe", "pling_platform_tests", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(ready[1]);
  char result = 0;
  ASSERT_EQ(::read(ready[0], &result, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(result, 'y');

  EXPECT_EQ(CreateMailslot(path, 0, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(Write(path, "to the other process"));

  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  THandleGuard slot(CreateMailslot(path, 0, 0));
  EXPECT_NE(slot.Get(), INVALID_HANDLE_VALUE) << GetLastError();
}

TEST(MailslotServiceTest, CloseFreesTheNameAtOnceAndInvalidatesTheHandle) {
  const std::string path = LocalPath(UniqueName("reopen"));
  for (int round = 0; round < 3; ++round) {
    const HANDLE slot = CreateMailslot(path, 0, 0);
    ASSERT_NE(slot, INVALID_HANDLE_VALUE) << "round " << round << " error " << GetLastError();
    ASSERT_TRUE(Write(path, "waiting"));
    ASSERT_TRUE(CloseHandle(slot));

    EXPECT_FALSE(CloseHandle(slot));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DWORD count = 0;
    EXPECT_FALSE(GetMailslotInfo(slot, nullptr, nullptr, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    char byte = 0;
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(slot, &byte, 1, &read));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(Write(path, "nobody listens"));
  }
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(MailslotServiceTest, CountsMessagesAndReadsOneWholeMessageAtATimeInOrder) {
  const std::string path = LocalPath(UniqueName("order"));
  THandleGuard slot(CreateMailslot(path, 0, 0));
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);

  DWORD maxSize = 1, nextSize = 0, count = 1, timeout = 1;
  ASSERT_TRUE(GetMailslotInfo(slot.Get(), &maxSize, &nextSize, &count, &timeout));
  EXPECT_EQ(maxSize, 0u);
  EXPECT_EQ(nextSize, MAILSLOT_NO_MESSAGE);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(timeout, 0u);

  const std::string binary("a\0b\xFF", 4);
  ASSERT_TRUE(Write(path, "first"));
  ASSERT_TRUE(Write(path, ""));
  ASSERT_TRUE(Write(path, binary));
  TInfo info = Info(slot.Get());
  EXPECT_EQ(info.count, 3u);
  EXPECT_EQ(info.nextSize, 5u);

  EXPECT_EQ(Read(slot.Get()), "first");
  info = Info(slot.Get());
  EXPECT_EQ(info.count, 2u);
  EXPECT_EQ(info.nextSize, 0u);
  DWORD read = 99;
  EXPECT_TRUE(ReadFile(slot.Get(), nullptr, 0, &read));  // the empty message
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(Read(slot.Get()), binary);

  info = Info(slot.Get());
  EXPECT_EQ(info.count, 0u);
  EXPECT_EQ(info.nextSize, MAILSLOT_NO_MESSAGE);
  char buffer[8];
  EXPECT_FALSE(ReadFile(slot.Get(), buffer, sizeof buffer, &read));  // read time-out 0
  EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
  EXPECT_EQ(read, 0u);
}

TEST(MailslotServiceTest, ShortBufferLeavesTheMessageWaiting) {
  const std::string path = LocalPath(UniqueName("short"));
  THandleGuard slot(CreateMailslot(path, 0, 0));
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(path, "hello"));

  char buffer[5];
  DWORD read = 7;
  EXPECT_FALSE(ReadFile(slot.Get(), buffer, 4, &read));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(Info(slot.Get()).count, 1u);
  ASSERT_TRUE(ReadFile(slot.Get(), buffer, 5, &read));
  EXPECT_EQ(std::string(buffer, read), "hello");
}

TEST(MailslotServiceTest, DropsMessagesLongerThanTheMaximumSize) {
  const std::string path = LocalPath(UniqueName("max"));
  THandleGuard slot(CreateMailslot(path, 4, 0));
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);
  // The writer cannot see the receiver's limit: the write succeeds, the message
  // never arrives.
  EXPECT_TRUE(Write(path, "12345"));
  ASSERT_TRUE(Write(path, "1234"));
  ASSERT_TRUE(Write(path, ""));
  EXPECT_EQ(Info(slot.Get()).count, 2u);
  EXPECT_EQ(Read(slot.Get()), "1234");
  EXPECT_EQ(Read(slot.Get()), "");
}

TEST(MailslotServiceTest, WritingToAMissingMailslotFails) {
  EXPECT_EQ(OpenForWriting(LocalPath(UniqueName("missing"))), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(MailslotServiceTest, HandlesServeOnlyTheirOwnDirection) {
  const std::string path = LocalPath(UniqueName("dir"));
  THandleGuard slot(CreateMailslot(path, 0, 0));
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);
  THandleGuard file(OpenForWriting(path));
  ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);

  DWORD count = 0;
  char byte = 'x';
  EXPECT_FALSE(WriteFile(slot.Get(), &byte, 1, &count));
  EXPECT_FALSE(GetMailslotInfo(file.Get(), nullptr, nullptr, &count, nullptr));
  EXPECT_FALSE(ReadFile(file.Get(), &byte, 1, &count));
  EXPECT_FALSE(WriteFile(12345678, &byte, 1, &count));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(MailslotServiceTest, OwnComputerNameIsThisMachine) {
  const std::string name = UniqueName("self");
  THandleGuard slot(CreateMailslot(LocalPath(name), 0, 0));
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);
  std::string computer = GetComputerName();
  ASSERT_FALSE(computer.empty());
  std::transform(computer.begin(), computer.end(), computer.begin(), ::tolower);
  ASSERT_TRUE(Write("\\\\" + computer + "\\mailslot\\" + name, "from myself"));
  EXPECT_EQ(Read(slot.Get()), "from myself");
}

class TFakeTransport : public IMailslotTransport {
 public:
  runtime::TResult<TWriteDelivery> Write(std::string_view machine, std::string_view slotName,
                                         std::string_view data) override {
    if (FFail) return runtime::TError{ERROR_BAD_NETPATH, {}};
    FSent.push_back(std::string(machine) + "|" + std::string(slotName) + "|" + std::string(data));
    return TWriteDelivery::Datagram;
  }
  bool FFail = false;
  std::vector<std::string> FSent;
};

TEST(MailslotServiceTest, OtherMachinesNeedTheNetworkTransport) {
  const std::string path = "\\\\OTHERBOX\\mailslot\\messngr";
  SetMailslotTransport(nullptr);
  EXPECT_EQ(OpenForWriting(path), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_BAD_NETPATH);

  auto transport = std::make_shared<TFakeTransport>();
  SetMailslotTransport(transport);
  // A datagram the transport sent is one to a workgroup when the name is one.
  const auto deliver = [](const std::string& to, std::string_view data) {
    const runtime::TResult<HANDLE> file = OpenMailslotWriter(to);
    EXPECT_TRUE(file);
    runtime::TResult<TWriteDelivery> written = WriteToMailslot(file.Value(), data);
    EXPECT_TRUE(CloseHandle(file.Value()));
    return written;
  };
  const auto hi = deliver(path, "hi");
  ASSERT_TRUE(hi);
  EXPECT_EQ(hi.Value(), TWriteDelivery::Datagram);
  const auto all = deliver("\\\\*\\mailslot\\messngr", std::string("a\0b", 3));
  ASSERT_TRUE(all);
  EXPECT_EQ(all.Value(), TWriteDelivery::Workgroup);
  transport->FFail = true;
  EXPECT_FALSE(Write(path, "lost"));
  EXPECT_EQ(GetLastError(), ERROR_BAD_NETPATH);
  SetMailslotTransport(nullptr);

  EXPECT_EQ(transport->FSent,
            (std::vector<std::string>{"OTHERBOX|messngr|hi", std::string("*|messngr|a\0b", 13)}));
}

TEST(MailslotServiceTest, WaitEndsOnMessageStopCloseOrTimeOut) {
  const std::string path = LocalPath(UniqueName("wait"));
  const HANDLE slot = CreateMailslot(path, 0, 0);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);
  runtime::TEvent stop;

  EXPECT_EQ(WaitForMailslot(slot, stop, 1ms), TMailslotWait::TimedOut);

  std::thread writer([&] { EXPECT_TRUE(Write(path, "wake")); });
  EXPECT_EQ(WaitForMailslot(slot, stop, 10s), TMailslotWait::MessageWaiting);
  writer.join();
  stop.Set();
  EXPECT_EQ(WaitForMailslot(slot, stop, 10s), TMailslotWait::MessageWaiting);  // message first
  EXPECT_EQ(Read(slot), "wake");
  EXPECT_EQ(WaitForMailslot(slot, stop, 10s), TMailslotWait::Stopped);
  stop.Reset();

  std::thread stopper([&] { stop.Set(); });
  EXPECT_EQ(WaitForMailslot(slot, stop, 10s), TMailslotWait::Stopped);
  stopper.join();
  stop.Reset();

  std::thread closer([&] { EXPECT_TRUE(CloseHandle(slot)); });
  EXPECT_EQ(WaitForMailslot(slot, stop, 10s), TMailslotWait::Failed);
  closer.join();
  EXPECT_EQ(WaitForMailslot(slot, stop, 10s), TMailslotWait::Failed);
}

TEST(MailslotServiceTest, ReadWaitsForeverUntilAMessageOrClose) {
  const std::string path = LocalPath(UniqueName("forever"));
  const HANDLE slot = CreateMailslot(path, 0, MAILSLOT_WAIT_FOREVER);
  ASSERT_NE(slot, INVALID_HANDLE_VALUE);

  std::thread writer([&] { EXPECT_TRUE(Write(path, "late")); });
  EXPECT_EQ(Read(slot), "late");
  writer.join();

  std::thread closer([&] { EXPECT_TRUE(CloseHandle(slot)); });
  char byte = 0;
  DWORD read = 0;
  EXPECT_FALSE(ReadFile(slot, &byte, 1, &read));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  closer.join();
}

// More data than the mailslot's queue and the kernel hold at once, written as
// fast as possible while being read: the writer is held back, nothing is lost or
// reordered.
TEST(MailslotServiceTest, ManyMessagesArriveWholeAndInOrder) {
  const std::string path = LocalPath(UniqueName("many"));
  THandleGuard slot(CreateMailslot(path, 0, 10000));  // a failed writer ends the reading
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);
  constexpr int kCount = 2000;
  const auto message = [](int i) {
    std::string text = std::to_string(i) + ":";
    text.resize(static_cast<std::size_t>((i * 37) % 5000), static_cast<char>('a' + i % 26));
    return text;
  };

  std::atomic<int> failedAt{-1};
  std::thread writer([&] {
    const HANDLE file = OpenForWriting(path);
    for (int i = 0; i < kCount && file != INVALID_HANDLE_VALUE; ++i) {
      const std::string text = message(i);
      DWORD written = 0;
      if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written)) {
        failedAt = i;
        break;
      }
    }
    if (file == INVALID_HANDLE_VALUE) failedAt = 0;
    CloseHandle(file);
  });
  std::string buffer(5000, '\0');
  int received = 0;
  for (; received < kCount && failedAt < 0; ++received) {
    DWORD read = 0;
    if (!ReadFile(slot.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) break;
    if (std::string_view(buffer.data(), read) != message(received)) break;
  }
  writer.join();
  EXPECT_EQ(failedAt, -1);
  EXPECT_EQ(received, kCount);
}

// A full queue leaves the newest messages with the kernel, which then holds the
// writer back. They are counted all the same (empty ones too, and again at the
// next query), messages too long for the mailslot are not, and every count and
// size matches what is then read.
TEST(MailslotServiceTest, CountIsExactWhileTheKernelHoldsMessagesBack) {
  const std::string path = LocalPath(UniqueName("full"));
  THandleGuard slot(CreateMailslot(path, 6, 0));
  ASSERT_NE(slot.Get(), INVALID_HANDLE_VALUE);
  const auto message = [](int i) {
    if (i % 7 == 4) return std::string("far too long");  // dropped by the mailslot
    return i % 3 == 0 ? std::string() : std::to_string(i);
  };
  THandleGuard file(OpenForWriting(path));
  ASSERT_NE(file.Get(), INVALID_HANDLE_VALUE);
  // Write until the writer is held back for good: queue and kernel are full.
  std::vector<std::string> expected;
  for (int i = 0; i < 100000; ++i) {
    const std::string text = message(i);
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written)) break;
    if (text.size() <= 6) expected.push_back(text);
  }
  ASSERT_GT(expected.size(), 1000u);
  ASSERT_LT(expected.size(), 100000u) << "the writer was never held back";

  EXPECT_EQ(Info(slot.Get()).count, expected.size());
  EXPECT_EQ(Info(slot.Get()).count, expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TInfo info = Info(slot.Get());
    ASSERT_EQ(info.count, expected.size() - i) << "before message " << i;
    ASSERT_EQ(info.nextSize, expected[i].size()) << "before message " << i;
    ASSERT_EQ(Read(slot.Get()), expected[i]) << "message " << i;
  }
  const TInfo info = Info(slot.Get());
  EXPECT_EQ(info.count, 0u);
  EXPECT_EQ(info.nextSize, MAILSLOT_NO_MESSAGE);
}

}  // namespace
}  // namespace pling::platform

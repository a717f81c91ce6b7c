// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/silence_board.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "runtime/unique_fd.h"

namespace pling::net {
namespace {

using TClock = std::chrono::steady_clock;

// A board file larger than this is not read: it is no board.
constexpr std::size_t kMaxBoardSize = 64 * 1024;

bool Number(std::string_view text, long long& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

enum class TOpen { Read, Change, Create };

// The board file, locked (exclusively when it is to be written); an invalid
// one when there is none to use (or none yet, unless it is to be created).
runtime::TUniqueFd OpenBoard(const std::string& path, TOpen how) {
  if (path.empty()) return {};
  const bool write = how != TOpen::Read;
  const int flags = (how == TOpen::Read     ? O_RDONLY
                     : how == TOpen::Change ? O_RDWR
                                            : O_RDWR | O_CREAT) |
                    O_CLOEXEC | O_NOFOLLOW;
  runtime::TUniqueFd fd(::open(path.c_str(), flags, 0600));
  if (!fd.Valid()) return {};
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    return {};
  }
  while (::flock(fd.Get(), write ? LOCK_EX : LOCK_SH) != 0) {
    if (errno != EINTR) return {};
  }
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxBoardSize) return {};
  }
  return text;
}

void WriteAll(int fd, const std::string& text) {
  if (::ftruncate(fd, 0) != 0) return;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote =
        ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    // A board cut short loses an entry or two: a server is asked once more.
    if (wrote <= 0) return;
    done += static_cast<std::size_t>(wrote);
  }
}

}  // namespace

TSilences ReadSilences(std::string_view text, TClock::time_point now) {
  TSilences silences;
  const long long nowMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const long long longestMs = std::chrono::milliseconds(kLongestSilence).count();
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::size_t first = line.find(' ');
    if (first == std::string_view::npos || first == 0) continue;
    const std::size_t second = line.find(' ', first + 1);
    if (second == std::string_view::npos) continue;
    long long until = 0, next = 0;
    if (!Number(line.substr(first + 1, second - first - 1), until) ||
        !Number(line.substr(second + 1), next)) {
      continue;
    }
    if (next < 0 || next > kLongestSilence.count()) continue;
    // Overflow-free: both sides stay far inside the range of long long.
    if (until > nowMs + longestMs || until < nowMs - longestMs) continue;
    silences.insert_or_assign(
        std::string(line.substr(0, first)),
        TSilence{TClock::time_point(std::chrono::milliseconds(until)), std::chrono::seconds(next)});
  }
  return silences;
}

std::string WriteSilences(const TSilences& silences) {
  std::string text;
  for (const auto& [key, silence] : silences) {
    const long long until =
        std::chrono::duration_cast<std::chrono::milliseconds>(silence.until.time_since_epoch())
            .count();
    text += key + ' ' + std::to_string(until) + ' ' + std::to_string(silence.next.count()) + '\n';
  }
  return text;
}

std::optional<TSilence> TSilenceBoard::Find(std::string_view key, TClock::time_point now) const {
  const runtime::TUniqueFd fd = OpenBoard(FPath, TOpen::Read);
  if (!fd.Valid()) return std::nullopt;
  const TSilences silences = ReadSilences(ReadAll(fd.Get()), now);
  const auto found = silences.find(key);
  if (found == silences.end()) return std::nullopt;
  return found->second;
}

void TSilenceBoard::Put(std::string_view key, TSilence silence, TClock::time_point now) const {
  // A key with a space or a line break would read as another entry.
  if (key.empty() || key.find_first_of(" \n") != std::string_view::npos) return;
  const runtime::TUniqueFd fd = OpenBoard(FPath, TOpen::Create);
  if (!fd.Valid()) return;
  TSilences silences = ReadSilences(ReadAll(fd.Get()), now);
  silences.insert_or_assign(std::string(key), silence);
  while (silences.size() > kMaxSilences) {
    silences.erase(std::min_element(
        silences.begin(), silences.end(),
        [](const auto& a, const auto& b) { return a.second.until < b.second.until; }));
  }
  WriteAll(fd.Get(), WriteSilences(silences));
}

void TSilenceBoard::Remove(std::string_view key, TClock::time_point now) const {
  // No board yet: nothing to forget (most answers find none).
  const runtime::TUniqueFd fd = OpenBoard(FPath, TOpen::Change);
  if (!fd.Valid()) return;
  TSilences silences = ReadSilences(ReadAll(fd.Get()), now);
  const auto found = silences.find(key);
  if (found == silences.end()) return;
  silences.erase(found);
  WriteAll(fd.Get(), WriteSilences(silences));
}

}  // namespace pling::net

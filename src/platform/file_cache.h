// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parsed form of a settings file, kept while the file is unchanged on disk,
// so that reading a value costs a stat() and a look-up instead of a read and a
// parse. Whether the file changed is told by its identity (TFileIdentity): a
// replacement makes a new file, an edit in place changes its size or time.
//
// File times are coarse (a clock tick of some milliseconds, seconds on some file
// systems), and a freed inode number may come back at once: two versions of a
// file written within one tick may look alike. So a version whose modification
// time was recent when it was kept ("racy") is trusted only after its text has
// been read again and found the same; once its time lies far enough in the past,
// a later version must differ in time, and the identity alone is trusted.
//
// A read hold (TFileReadHold) is a run of reads that sees one version of each
// file: while one is held, the version read (or written by this process) since
// the hold began serves without even a stat(), racy or not, so a store's opening
// (value after value) reads and parses the file once instead of once per value.
// What another process writes during a hold is seen after it ends; a change
// under the file's lock never trusts a hold.
#include <time.h>

#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_error.h"
#include "platform/posix/atomic_file.h"
#include "runtime/result.h"

namespace pling::platform {

// Process-wide: whether a hold is in force, and which (a new one each time the
// first hold begins; 0 while none is held).
class TFileReadHold {
 public:
  TFileReadHold() {
    std::lock_guard guard(State().mutex);
    if (State().depth++ == 0) ++State().epoch;
  }
  ~TFileReadHold() {
    std::lock_guard guard(State().mutex);
    --State().depth;
  }
  TFileReadHold(const TFileReadHold&) = delete;
  TFileReadHold& operator=(const TFileReadHold&) = delete;

  static unsigned long long Current() {
    std::lock_guard guard(State().mutex);
    return State().depth > 0 ? State().epoch : 0;
  }

 private:
  struct TState {
    std::mutex mutex;
    int depth = 0;
    unsigned long long epoch = 0;
  };
  static TState& State() {
    static TState state;
    return state;
  }
};

// `parse` makes a std::shared_ptr<const Parsed> of the file's text, given as a
// std::string_view (one that keeps the text copies it). A file that
// does not exist is cached as parsed from the empty text (and as missing). A few
// files at most are kept, the most recently used first.
template <typename Parsed>
class TFileCache {
 public:
  struct TEntry {
    std::shared_ptr<const Parsed> parsed;
    bool exists = false;
  };

  // The parsed file at `path`: from the cache while its identity matches (and
  // `usable` accepts what was kept), else read and parsed anew. A missing file is
  // no failure. A change made under the file's lock loads `forChange`: a read
  // hold is not trusted then, so that what another process wrote within the same
  // tick is kept.
  template <typename Parse, typename Usable>
  runtime::TResult<TEntry> Load(const std::string& path, Parse parse, Usable usable,
                                bool forChange = false) {
    const unsigned long long hold = forChange ? 0 : TFileReadHold::Current();
    if (hold != 0) {
      std::lock_guard guard(FMutex);
      for (auto it = FSlots.begin(); it != FSlots.end(); ++it) {
        if ((*it)->path == path && (*it)->hold == hold && usable(*(*it)->parsed)) {
          return TEntry{(*it)->parsed, true};
        }
      }
    }
    TFileIdentity identity;
    const int statError = IdentifyFile(path, identity);
    if (statError == ENOENT) return TEntry{Empty(parse, usable), false};
    std::shared_ptr<const TSlot> kept;
    if (statError == 0) {
      std::lock_guard guard(FMutex);
      for (auto it = FSlots.begin(); it != FSlots.end(); ++it) {
        if ((*it)->path == path && (*it)->identity == identity && usable(*(*it)->parsed)) {
          FSlots.splice(FSlots.begin(), FSlots, it);
          kept = *it;
          break;
        }
      }
      if (kept && !kept->racy) {
        if (hold != 0) kept->hold = hold;  // the version this hold reads from now on
        return TEntry{kept->parsed, true};
      }
    }
    // A racy version whose text is still the same: its parse still serves. The
    // file is compared as it is read, without a copy of its text.
    if (kept && FileHoldsExactly(path, *kept->text, identity) && kept->identity == identity) {
      Store(path, identity, kept->parsed, kept->text);
      return TEntry{kept->parsed, true};
    }
    runtime::TResult<std::string> read = ReadFileContents(path, &identity);
    if (!read) {
      if (IsMissingFile(read.Error())) return TEntry{Empty(parse, usable), false};
      return read.Error();
    }
    std::string& text = read.Value();
    std::shared_ptr<const Parsed> parsed = parse(std::string_view(text));
    Store(path, identity, parsed, std::move(text));
    return TEntry{std::move(parsed), true};
  }

  template <typename Parse>
  runtime::TResult<TEntry> Load(const std::string& path, Parse parse, bool forChange = false) {
    return Load(
        path, parse, [](const Parsed&) { return true; }, forChange);
  }

  // Records what this process has just read from or written to `path`.
  void Store(const std::string& path, const TFileIdentity& identity,
             std::shared_ptr<const Parsed> parsed, std::string text) {
    Store(path, identity, std::move(parsed), std::make_shared<const std::string>(std::move(text)));
  }
  void Store(const std::string& path, const TFileIdentity& identity,
             std::shared_ptr<const Parsed> parsed, std::shared_ptr<const std::string> text) {
    auto slot = std::make_shared<TSlot>();
    slot->path = path;
    slot->identity = identity;
    slot->parsed = std::move(parsed);
    slot->text = std::move(text);
    slot->racy = IsRecent(identity);
    slot->hold = TFileReadHold::Current();
    std::lock_guard guard(FMutex);
    for (auto it = FSlots.begin(); it != FSlots.end(); ++it) {
      if ((*it)->path == path) {
        FSlots.erase(it);
        break;
      }
    }
    FSlots.push_front(std::move(slot));
    if (FSlots.size() > kSlots) FSlots.pop_back();
  }

 private:
  static constexpr std::size_t kSlots = 4;
  // More than any file system's time granularity.
  static constexpr time_t kRacySeconds = 3;

  struct TSlot {
    std::string path;
    TFileIdentity identity;
    std::shared_ptr<const Parsed> parsed;
    std::shared_ptr<const std::string> text;  // as read or written, to tell a racy version again
    bool racy = true;
    // The read hold it was last read or written in, if any; guarded by FMutex.
    mutable unsigned long long hold = 0;
  };

  static bool IsRecent(const TFileIdentity& identity) {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return true;
    return identity.modifiedSeconds + kRacySeconds >= now.tv_sec;
  }

  template <typename Parse, typename Usable>
  std::shared_ptr<const Parsed> Empty(Parse parse, Usable usable) {
    std::lock_guard guard(FMutex);
    if (!FEmpty || !usable(*FEmpty)) FEmpty = parse(std::string_view());
    return FEmpty;
  }

  std::mutex FMutex;
  std::list<std::shared_ptr<const TSlot>> FSlots;
  std::shared_ptr<const Parsed> FEmpty;
};

}  // namespace pling::platform

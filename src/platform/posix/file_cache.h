#pragma once
// The parsed form of a settings file, kept while the file is unchanged on disk,
// so that reading a value costs a stat() and a look-up instead of a read and a
// parse. Whether the file changed is told by its identity (FileIdentity): a
// replacement makes a new file, an edit in place changes its size or time.
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/posix/atomic_file.h"

namespace pling::platform {

// `parse` makes a std::shared_ptr<const Parsed> of the file's text. A file that does not exist
// is cached as parsed from the empty text (and as missing). A few files at most
// are kept, the most recently used first.
template <typename Parsed>
class FileCache {
 public:
  struct Entry {
    std::shared_ptr<const Parsed> parsed;
    bool exists = false;
  };

  // The parsed file at `path`: from the cache while its identity matches, else
  // read and parsed anew. 0 or an errno value (a missing file is no error).
  template <typename Parse>
  int Load(const std::string& path, Parse parse, Entry& result) {
    FileIdentity identity;
    const int statError = IdentifyFile(path, identity);
    if (statError == ENOENT) {
      result = Entry{Empty(parse), false};
      return 0;
    }
    if (statError == 0) {
      std::lock_guard guard(FMutex);
      for (auto it = FSlots.begin(); it != FSlots.end(); ++it) {
        if (it->path == path && it->identity == identity) {
          FSlots.splice(FSlots.begin(), FSlots, it);
          result = Entry{it->parsed, true};
          return 0;
        }
      }
    }
    std::string text;
    const int error = ReadFileContents(path, text, &identity);
    if (error == ENOENT) {
      result = Entry{Empty(parse), false};
      return 0;
    }
    if (error != 0) return error;
    std::shared_ptr<const Parsed> parsed = parse(std::move(text));
    Store(path, identity, parsed);
    result = Entry{std::move(parsed), true};
    return 0;
  }

  // Records what this process has just written to `path`.
  void Store(const std::string& path, const FileIdentity& identity,
             std::shared_ptr<const Parsed> parsed) {
    std::lock_guard guard(FMutex);
    for (auto it = FSlots.begin(); it != FSlots.end(); ++it) {
      if (it->path == path) {
        FSlots.erase(it);
        break;
      }
    }
    FSlots.push_front(Slot{path, identity, std::move(parsed)});
    if (FSlots.size() > kSlots) FSlots.pop_back();
  }

 private:
  static constexpr std::size_t kSlots = 4;

  struct Slot {
    std::string path;
    FileIdentity identity;
    std::shared_ptr<const Parsed> parsed;
  };

  template <typename Parse>
  std::shared_ptr<const Parsed> Empty(Parse parse) {
    std::lock_guard guard(FMutex);
    if (!FEmpty) FEmpty = parse(std::string());
    return FEmpty;
  }

  std::mutex FMutex;
  std::list<Slot> FSlots;
  std::shared_ptr<const Parsed> FEmpty;
};

}  // namespace pling::platform

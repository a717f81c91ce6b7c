// SPDX-License-Identifier: GPL-3.0-or-later
// The history store on SQLite: one table of messages, an FTS5 index over the
// names and the text (external content, kept by triggers), WAL.
#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <ostream>
#include <utility>

#include "history/history.h"

namespace pling::history {

namespace {

// 1: the index kept by triggers as each message was stored. 2: the index catches
// up after the messages are stored (index_state.upto: every message with an id up
// to it is in the index, none after it), so that storing a batch costs only its
// rows.
constexpr int kSchemaVersion = 2;
constexpr int kBusyTimeoutMs = 5000;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS messages(
  id INTEGER PRIMARY KEY,
  time INTEGER NOT NULL,
  direction INTEGER NOT NULL,
  sender TEXT NOT NULL,
  receiver TEXT NOT NULL,
  via TEXT NOT NULL,
  text TEXT NOT NULL,
  delivery INTEGER NOT NULL,
  reason TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS messages_time ON messages(time);
CREATE VIRTUAL TABLE IF NOT EXISTS messages_fts USING fts5(
  sender, receiver, text, content='messages', content_rowid='id', columnsize=0, prefix='3',
  tokenize='pling_fold unicode61 remove_diacritics 2');
CREATE TABLE IF NOT EXISTS index_state(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  upto INTEGER NOT NULL);
INSERT OR IGNORE INTO index_state(id, upto) VALUES (1, 0);
CREATE TRIGGER IF NOT EXISTS messages_ad AFTER DELETE ON messages
WHEN old.id <= (SELECT upto FROM index_state) BEGIN
  INSERT INTO messages_fts(messages_fts, rowid, sender, receiver, text)
    VALUES ('delete', old.id, old.sender, old.receiver, old.text);
END;
CREATE TRIGGER IF NOT EXISTS messages_au AFTER UPDATE ON messages
WHEN old.id <= (SELECT upto FROM index_state) BEGIN
  INSERT INTO messages_fts(messages_fts, rowid, sender, receiver, text)
    VALUES ('delete', old.id, old.sender, old.receiver, old.text);
  INSERT INTO messages_fts(rowid, sender, receiver, text)
    VALUES (new.id, new.sender, new.receiver, new.text);
END;
)sql";

// From 1: the triggers of the index go (the new ones only take out what was
// indexed), and everything stored so far was indexed.
const char* const kMigrateFrom1 = R"sql(
DROP TRIGGER IF EXISTS messages_ai;
DROP TRIGGER IF EXISTS messages_ad;
DROP TRIGGER IF EXISTS messages_au;
)sql";
const char* const kMigratedFrom1 =
    "UPDATE index_state SET upto = coalesce((SELECT max(id) FROM messages), 0)";

const char* const kColumns =
    "m.id, m.time, m.direction, m.sender, m.receiver, m.via, m.text, m.delivery, m.reason";

// ---------------------------------------------------------------------------
// Small SQLite helpers.

struct TStatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TStatementDeleter>;

TError SqlError(sqlite3* db, const std::string& path, int code) {
  const char* what = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  return TError{static_cast<std::uint32_t>(code & 0xFF), path + ": " + (what ? what : "error")};
}

bool IsDamage(int code) {
  code &= 0xFF;
  return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

std::string Column(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
              : std::string();
}

TMessage ReadMessage(sqlite3_stmt* statement) {
  TMessage message;
  message.id = sqlite3_column_int64(statement, 0);
  message.timeMs = sqlite3_column_int64(statement, 1);
  message.direction = sqlite3_column_int(statement, 2) == 1 ? TDirection::Out : TDirection::In;
  message.sender = Column(statement, 3);
  message.receiver = Column(statement, 4);
  message.via = Column(statement, 5);
  message.text = Column(statement, 6);
  const int delivery = sqlite3_column_int(statement, 7);
  message.delivery = delivery >= 0 && delivery <= static_cast<int>(TDelivery::Failed)
                         ? static_cast<TDelivery>(delivery)
                         : TDelivery::Received;
  message.reason = Column(statement, 8);
  return message;
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// ---------------------------------------------------------------------------
// The matched words of a hit: an FTS5 function that gives the byte ranges in
// the text column of the phrase instances that matched there.

constexpr int kTextColumn = 2;

struct TMarkContext {
  std::vector<int> Positions;  // token positions to mark, ascending
  std::vector<std::pair<int, int>> Ranges;
  int Token = 0;
};

int CollectToken(void* context, int flags, const char*, int, int begin, int end) {
  auto& marks = *static_cast<TMarkContext*>(context);
  if ((flags & FTS5_TOKEN_COLOCATED) != 0) return SQLITE_OK;
  const int position = marks.Token++;
  // Positions are few and ascending: a linear look from the front is enough.
  for (const int wanted : marks.Positions) {
    if (wanted == position) {
      marks.Ranges.emplace_back(begin, end);
      break;
    }
    if (wanted > position) break;
  }
  return SQLITE_OK;
}

void MarksFunction(const Fts5ExtensionApi* api, Fts5Context* fts, sqlite3_context* result, int,
                   sqlite3_value**) {
  int instances = 0;
  if (api->xInstCount(fts, &instances) != SQLITE_OK) {
    sqlite3_result_null(result);
    return;
  }
  TMarkContext marks;
  for (int i = 0; i < instances; ++i) {
    int phrase = 0, column = 0, offset = 0;
    if (api->xInst(fts, i, &phrase, &column, &offset) != SQLITE_OK) continue;
    if (column != kTextColumn) continue;
    const int tokens = api->xPhraseSize(fts, phrase);
    for (int t = 0; t < tokens; ++t) marks.Positions.push_back(offset + t);
  }
  std::sort(marks.Positions.begin(), marks.Positions.end());
  marks.Positions.erase(std::unique(marks.Positions.begin(), marks.Positions.end()),
                        marks.Positions.end());
  std::string out;
  if (!marks.Positions.empty()) {
    const char* text = nullptr;
    int length = 0;
    if (api->xColumnText(fts, kTextColumn, &text, &length) == SQLITE_OK && text != nullptr) {
      api->xTokenize(fts, text, length, &marks, CollectToken);
    }
    for (const auto& [begin, end] : marks.Ranges) {
      out += std::to_string(begin) + ' ' + std::to_string(end) + ' ';
    }
  }
  sqlite3_result_text(result, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

// ---------------------------------------------------------------------------
// The tokenizer: unicode61 (case folded, diacritics removed), and then the
// letters that have no decomposition to take their mark off (the stroke of
// "ł", "đ", "ø", the ligatures) folded as a reader would type them, so that
// "zazolc" finds "Zażółć". It wraps the tokenizer named in its arguments;
// offsets pass through unchanged.

struct TFoldTokenizer {
  fts5_tokenizer Inner{};
  Fts5Tokenizer* InnerInstance = nullptr;
};

fts5_api* FtsApi(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &raw, nullptr) != SQLITE_OK) return nullptr;
  TStatement statement(raw);
  sqlite3_bind_pointer(raw, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
  sqlite3_step(raw);
  return api;
}

// The folded form of a two-byte UTF-8 letter, or nullptr.
const char* FoldLetter(unsigned char a, unsigned char b) {
  const unsigned code = ((a & 0x1Fu) << 6) | (b & 0x3Fu);
  switch (code) {
    case 0x00DF:
      return "ss";  // ß
    case 0x00E6:
      return "ae";  // æ
    case 0x00F0:
      return "d";  // ð
    case 0x00F8:
      return "o";  // ø
    case 0x00FE:
      return "th";  // þ
    case 0x0111:
      return "d";  // đ
    case 0x0127:
      return "h";  // ħ
    case 0x0131:
      return "i";  // ı
    case 0x0140:
      return "l";  // ŀ
    case 0x0142:
      return "l";  // ł
    case 0x0153:
      return "oe";  // œ
    case 0x0167:
      return "t";  // ŧ
  }
  return nullptr;
}

struct TFoldCall {
  void* Context;
  int (*Token)(void*, int, const char*, int, int, int);
  std::string Buffer;
};

int FoldToken(void* context, int flags, const char* token, int length, int begin, int end) {
  auto& call = *static_cast<TFoldCall*>(context);
  bool plain = true;
  for (int i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(token[i]) >= 0x80) {
      plain = false;
      break;
    }
  }
  if (plain) return call.Token(call.Context, flags, token, length, begin, end);
  call.Buffer.clear();
  for (int i = 0; i < length; ++i) {
    const auto a = static_cast<unsigned char>(token[i]);
    if (a >= 0xC2 && a <= 0xDF && i + 1 < length) {
      if (const char* folded = FoldLetter(a, static_cast<unsigned char>(token[i + 1]))) {
        call.Buffer += folded;
        ++i;
        continue;
      }
    }
    call.Buffer += static_cast<char>(a);
  }
  return call.Token(call.Context, flags, call.Buffer.data(), static_cast<int>(call.Buffer.size()),
                    begin, end);
}

int FoldCreate(void* apiPointer, const char** args, int count, Fts5Tokenizer** out) {
  auto* api = static_cast<fts5_api*>(apiPointer);
  const char* inner = count > 0 ? args[0] : "unicode61";
  void* innerContext = nullptr;
  auto tokenizer = std::make_unique<TFoldTokenizer>();
  int code = api->xFindTokenizer(api, inner, &innerContext, &tokenizer->Inner);
  if (code != SQLITE_OK) return code;
  code = tokenizer->Inner.xCreate(innerContext, count > 0 ? args + 1 : nullptr,
                                  count > 0 ? count - 1 : 0, &tokenizer->InnerInstance);
  if (code != SQLITE_OK) return code;
  *out = reinterpret_cast<Fts5Tokenizer*>(tokenizer.release());
  return SQLITE_OK;
}

void FoldDelete(Fts5Tokenizer* instance) {
  auto* tokenizer = reinterpret_cast<TFoldTokenizer*>(instance);
  if (tokenizer->InnerInstance != nullptr) tokenizer->Inner.xDelete(tokenizer->InnerInstance);
  delete tokenizer;
}

int FoldTokenize(Fts5Tokenizer* instance, void* context, int flags, const char* text, int length,
                 int (*token)(void*, int, const char*, int, int, int)) {
  auto* tokenizer = reinterpret_cast<TFoldTokenizer*>(instance);
  TFoldCall call{context, token, {}};
  return tokenizer->Inner.xTokenize(tokenizer->InnerInstance, &call, flags, text, length,
                                    FoldToken);
}

bool RegisterExtensions(sqlite3* db) {
  fts5_api* api = FtsApi(db);
  if (api == nullptr) return false;
  fts5_tokenizer fold{FoldCreate, FoldDelete, FoldTokenize};
  if (api->xCreateTokenizer(api, "pling_fold", api, &fold, nullptr) != SQLITE_OK) return false;
  return api->xCreateFunction(api, "pling_marks", nullptr, MarksFunction, nullptr) == SQLITE_OK;
}

std::vector<TSpan> ParseMarks(const std::string& text) {
  std::vector<TSpan> marks;
  const char* p = text.c_str();
  for (;;) {
    char* end = nullptr;
    const long begin = std::strtol(p, &end, 10);
    if (end == p) break;
    p = end;
    const long stop = std::strtol(p, &end, 10);
    if (end == p) break;
    p = end;
    if (begin >= 0 && stop >= begin) {
      marks.push_back({static_cast<std::size_t>(begin), static_cast<std::size_t>(stop)});
    }
  }
  return marks;
}

// ---------------------------------------------------------------------------
// Files.

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "";
}

std::string Parent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string SystemText(int error) {
  return std::strerror(error);
}

// Makes the folders of `directory` that are missing (the last one 0700) and
// takes the last one's access for others away.
TResult<void> PrivateDirectory(const std::string& directory) {
  struct stat info {};
  if (stat(directory.c_str(), &info) != 0) {
    if (errno != ENOENT)
      return TError{static_cast<std::uint32_t>(errno), directory + ": " + SystemText(errno)};
    const std::string parent = Parent(directory);
    if (parent != directory && parent != "/" && parent != ".") {
      struct stat up {};
      if (stat(parent.c_str(), &up) != 0) {
        // Folders above are made as mkdir -p would (0700 with the usual umask
        // bits removed), and are not ours to make private.
        if (auto made = PrivateDirectory(parent); !made) return made;
      }
    }
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
      return TError{static_cast<std::uint32_t>(errno), directory + ": " + SystemText(errno)};
    }
    return {};
  }
  if (!S_ISDIR(info.st_mode)) return TError{ENOTDIR, directory + ": " + SystemText(ENOTDIR)};
  if ((info.st_mode & 077) != 0 && info.st_uid == geteuid()) chmod(directory.c_str(), 0700);
  return {};
}

// Creates the file 0600 if it is missing (SQLite gives its -wal and -shm the
// mode of the database file) and takes others' access away if it is there.
TResult<void> PrivateFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return TError{static_cast<std::uint32_t>(errno), path + ": " + SystemText(errno)};
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && (info.st_mode & 077) != 0) fchmod(fd, 0600);
  close(fd);
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string side = path + suffix;
    if (stat(side.c_str(), &info) == 0 && (info.st_mode & 077) != 0) chmod(side.c_str(), 0600);
  }
  return {};
}

std::uint64_t SizeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// PATH.corrupt-YYYYMMDDTHHMMSS (with -N when that is taken), and the -wal with it.
TResult<std::string> MoveAside(const std::string& path) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &parts);
  std::string aside = path + ".corrupt-" + stamp;
  for (int n = 2; access(aside.c_str(), F_OK) == 0 && n < 100; ++n) {
    aside = path + ".corrupt-" + stamp + "-" + std::to_string(n);
  }
  if (rename(path.c_str(), aside.c_str()) != 0) {
    return TError{static_cast<std::uint32_t>(errno),
                  "cannot move " + path + " aside: " + SystemText(errno)};
  }
  rename((path + "-wal").c_str(), (aside + "-wal").c_str());
  unlink((path + "-shm").c_str());
  return aside;
}

}  // namespace

// ---------------------------------------------------------------------------

TSettings TSettings::Clamped() const {
  TSettings out = *this;
  if (out.days < 0) out.days = TSettings{}.days;
  if (out.megabytes < 0) out.megabytes = TSettings{}.megabytes;
  if (out.days > 36500) out.days = 36500;
  if (out.megabytes > 1024 * 1024) out.megabytes = 1024 * 1024;
  return out;
}

std::string DefaultPath() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base =
      xdg != nullptr && xdg[0] == '/' ? std::string(xdg) : HomeDirectory() + "/.local/share";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/pling/history.sqlite";
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct TStore::TImpl {
  std::string Path;
  sqlite3* Db = nullptr;
  TStatement Insert;
  bool Newer = false;  // the file is of a later schema than this program's
  // A batch is being stored (Stage): its transaction is open, and the id the
  // next message of it takes.
  bool Staging = false;
  std::int64_t NextId = 0;
  // With checkpoints left to the owner: the frames in the -wal after the last
  // commit.
  int WalFrames = 0;

  ~TImpl() {
    Insert.reset();
    if (Db != nullptr) sqlite3_close_v2(Db);
  }

  TError Error(int code) const {
    if (Newer) {
      return TError{SQLITE_CANTOPEN,
                    Path + ": written by a newer version of Pling; left unchanged"};
    }
    return SqlError(Db, Path, code);
  }

  int Exec(const char* sql) { return sqlite3_exec(Db, sql, nullptr, nullptr, nullptr); }

  TResult<TStatement> Prepare(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int code =
        sqlite3_prepare_v2(Db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
    if (code != SQLITE_OK) return Error(code);
    return TStatement(raw);
  }

  TResult<std::int64_t> Integer(const char* sql) {
    auto statement = Prepare(sql);
    if (!statement) return statement.Error();
    const int code = sqlite3_step(statement.Value().get());
    if (code != SQLITE_ROW) return Error(code);
    return static_cast<std::int64_t>(sqlite3_column_int64(statement.Value().get(), 0));
  }

  // Pages in use: what the file takes once free pages are given back.
  std::uint64_t UsedBytes() {
    const auto pages = Integer("PRAGMA page_count");
    const auto free = Integer("PRAGMA freelist_count");
    const auto size = Integer("PRAGMA page_size");
    if (!pages || !free || !size) return SizeOf(Path);
    return static_cast<std::uint64_t>((pages.Value() - free.Value()) * size.Value());
  }

  // Gives free pages back to the system and empties the -wal.
  void Shrink() {
    Exec("PRAGMA incremental_vacuum");
    Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  }

  // Opens and sets up the connection; the SQLite code of the first failure.
  int Setup(bool create) {
    int code = sqlite3_open_v2(
        Path.c_str(), &Db,
        (create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READWRITE) |
            SQLITE_OPEN_NOMUTEX,
        nullptr);
    if (code != SQLITE_OK) return code;
    sqlite3_extended_result_codes(Db, 0);
    sqlite3_busy_timeout(Db, kBusyTimeoutMs);
    if (!RegisterExtensions(Db)) return SQLITE_ERROR;
    // Reading the schema is where a file that is no database shows.
    auto version = Integer("PRAGMA user_version");
    if (!version) return static_cast<int>(version.Error().code);
    if (version.Value() > kSchemaVersion) {
      // A newer program's file is left as it is (and not taken for damage).
      Newer = true;
      return SQLITE_CANTOPEN;
    }
    // Free pages go back to the system on request (prune, clear); set before
    // the first table exists.
    if (version.Value() == 0 && (code = Exec("PRAGMA auto_vacuum = INCREMENTAL")) != SQLITE_OK)
      return code;
    if ((code = Exec("PRAGMA journal_mode = WAL")) != SQLITE_OK) return code;
    // A commit is written to the -wal before it returns (a process killed right
    // after keeps it); the -wal is synced at checkpoints, not at every commit.
    if ((code = Exec("PRAGMA synchronous = NORMAL")) != SQLITE_OK) return code;
    if (version.Value() < kSchemaVersion) {
      if ((code = Exec("BEGIN IMMEDIATE")) != SQLITE_OK) return code;
      // Read again under the lock: another process may have set the file up
      // meanwhile.
      auto current = Integer("PRAGMA user_version");
      code = current ? SQLITE_OK : static_cast<int>(current.Error().code);
      if (code == SQLITE_OK && current.Value() == 1) code = Exec(kMigrateFrom1);
      if (code == SQLITE_OK && current.Value() < kSchemaVersion) code = Exec(kSchema);
      if (code == SQLITE_OK && current.Value() == 1) code = Exec(kMigratedFrom1);
      if (code == SQLITE_OK && current.Value() < kSchemaVersion) {
        code = Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
      }
      if (code != SQLITE_OK) {
        Exec("ROLLBACK");
        return code;
      }
      if ((code = Exec("COMMIT")) != SQLITE_OK) return code;
    }
    // Damage in the tables themselves shows on a first read of each.
    auto rows = Integer("SELECT count(*) FROM (SELECT id FROM messages ORDER BY id DESC LIMIT 1)");
    if (!rows) return static_cast<int>(rows.Error().code);
    // (One hit at most: every message holding the word would be read otherwise.)
    auto index = Integer(
        "SELECT count(*) FROM (SELECT rowid FROM messages_fts WHERE messages_fts MATCH 'a' "
        "LIMIT 1)");
    if (!index) return static_cast<int>(index.Error().code);
    return SQLITE_OK;
  }

  void Close() {
    Insert.reset();
    if (Db != nullptr) sqlite3_close_v2(Db);
    Db = nullptr;
  }
};

TStore::TStore(std::unique_ptr<TImpl> impl) : FImpl(std::move(impl)) {}
TStore::~TStore() = default;

const std::string& TStore::Path() const {
  return FImpl->Path;
}

TResult<TOpened> TStore::Open(const std::string& path) {
  if (auto directory = PrivateDirectory(Parent(path)); !directory) return directory.Error();
  TOpened opened;
  for (int attempt = 0; attempt < 2; ++attempt) {
    // A file that cannot be opened for reading and writing (not ours, or made
    // read-only) is as lost as a damaged one.
    if (auto file = PrivateFile(path); !file) {
      if (file.Error().code != EACCES && file.Error().code != EPERM) return file.Error();
      if (attempt > 0) return file.Error();
      auto aside = MoveAside(path);
      if (!aside) return aside.Error();
      opened.notice = "The message history " + path + " could not be opened (" + file.Error().text +
                      "); it was moved to " + aside.Value() + " and a new history started.";
      continue;
    }
    auto impl = std::make_unique<TImpl>();
    impl->Path = path;
    const int code = impl->Setup(true);
    if (code == SQLITE_OK) {
      opened.store = std::unique_ptr<TStore>(new TStore(std::move(impl)));
      return opened;
    }
    const TError error = impl->Error(code);
    impl->Close();
    if (!IsDamage(code) || attempt > 0) return error;
    auto aside = MoveAside(path);
    if (!aside) return aside.Error();
    opened.notice = "The message history " + path + " was damaged (" + error.text +
                    "); it was moved to " + aside.Value() + " and a new history started.";
  }
  return TError{SQLITE_CANTOPEN, path + ": cannot be opened"};
}

TResult<std::unique_ptr<TStore>> TStore::OpenExisting(const std::string& path) {
  if (access(path.c_str(), F_OK) != 0) {
    return TError{static_cast<std::uint32_t>(errno), path + ": " + SystemText(errno)};
  }
  auto impl = std::make_unique<TImpl>();
  impl->Path = path;
  const int code = impl->Setup(false);
  if (code != SQLITE_OK) return impl->Error(code);
  return std::unique_ptr<TStore>(new TStore(std::move(impl)));
}

TResult<void> TStore::Append(std::span<TMessage> messages) {
  if (messages.empty()) return {};
  if (auto staged = Stage(messages); !staged) return staged;
  if (auto committed = CommitStaged(); !committed) {
    for (TMessage& undone : messages) undone.id = 0;
    return committed;
  }
  return {};
}

TResult<void> TStore::Stage(std::span<TMessage> messages) {
  if (messages.empty()) return {};
  auto& d = *FImpl;
  if (!d.Insert) {
    auto statement = d.Prepare(
        "INSERT INTO messages(id, time, direction, sender, receiver, via, text, delivery, reason) "
        "VALUES (?9, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    if (!statement) return statement.Error();
    d.Insert = std::move(statement.Value());
  }
  if (!d.Staging) {
    int code = d.Exec("BEGIN IMMEDIATE");
    if (code != SQLITE_OK) return d.Error(code);
    // Past every id the index has taken, even where the newest messages were
    // deleted since: a new message is never taken for an indexed one.
    auto last = d.Integer(
        "SELECT max(coalesce((SELECT max(id) FROM messages), 0), "
        "(SELECT upto FROM index_state))");
    if (!last) {
      d.Exec("ROLLBACK");
      return last.Error();
    }
    d.Staging = true;
    d.NextId = last.Value() + 1;
  }
  sqlite3_stmt* insert = d.Insert.get();
  // The texts are bound without a copy: they outlive each step.
  const auto bind = [insert](int index, const std::string& text) {
    sqlite3_bind_text(insert, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  };
  for (TMessage& message : messages) {
    sqlite3_bind_int64(insert, 9, d.NextId);
    sqlite3_bind_int64(insert, 1, message.timeMs);
    sqlite3_bind_int(insert, 2, static_cast<int>(message.direction));
    bind(3, message.sender);
    bind(4, message.receiver);
    bind(5, message.via);
    bind(6, message.text);
    sqlite3_bind_int(insert, 7, static_cast<int>(message.delivery));
    bind(8, message.reason);
    const int code = sqlite3_step(insert);
    if (code != SQLITE_DONE) {
      const TError error = d.Error(code);
      sqlite3_reset(insert);
      sqlite3_clear_bindings(insert);
      DropStaged();
      for (TMessage& undone : messages) undone.id = 0;
      return error;
    }
    sqlite3_reset(insert);
    message.id = d.NextId++;
  }
  sqlite3_clear_bindings(insert);
  return {};
}

TResult<void> TStore::CommitStaged() {
  auto& d = *FImpl;
  if (!d.Staging) return {};
  d.Staging = false;
  const int code = d.Exec("COMMIT");
  if (code != SQLITE_OK) {
    const TError error = d.Error(code);
    d.Exec("ROLLBACK");
    return error;
  }
  return {};
}

void TStore::DropStaged() {
  auto& d = *FImpl;
  if (!d.Staging) return;
  d.Staging = false;
  d.Exec("ROLLBACK");
}

namespace {

// The -wal's length after each commit, for a store whose owner checkpoints.
int CountWalFrames(void* frames, sqlite3*, const char*, int count) {
  *static_cast<int*>(frames) = count;
  return SQLITE_OK;
}

}  // namespace

void TStore::DeferCheckpoints() {
  sqlite3_wal_hook(FImpl->Db, CountWalFrames, &FImpl->WalFrames);
}

bool TStore::CheckpointDue(int frames) const {
  return FImpl->WalFrames >= frames && !FImpl->Staging;
}

void TStore::Checkpoint() {
  auto& d = *FImpl;
  if (d.Staging) return;
  // As SQLite's own would, without waiting for readers: what they still read
  // stays in the -wal for the next one.
  sqlite3_wal_checkpoint_v2(d.Db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  d.WalFrames = 0;
}

bool TStore::Staging() const {
  return FImpl->Staging;
}

TResult<bool> TStore::IndexStep(std::size_t count) {
  auto& d = *FImpl;
  int code = d.Exec("BEGIN IMMEDIATE");
  if (code != SQLITE_OK) return d.Error(code);
  // The step's transaction is given up with the error that ended it.
  const auto abandon = [&d](TError error) {
    d.Exec("ROLLBACK");
    return error;
  };
  const auto fail = [&d, &abandon](int failed) { return abandon(d.Error(failed)); };
  auto upto = d.Integer("SELECT upto FROM index_state");
  if (!upto) return abandon(upto.Error());
  auto last = d.Prepare(
      "SELECT coalesce(max(id), 0) FROM (SELECT id FROM messages WHERE id > ?1 ORDER BY id "
      "LIMIT ?2)");
  if (!last) return abandon(last.Error());
  sqlite3_bind_int64(last.Value().get(), 1, upto.Value());
  sqlite3_bind_int64(last.Value().get(), 2,
                     static_cast<sqlite3_int64>(std::max<std::size_t>(count, 1)));
  if ((code = sqlite3_step(last.Value().get())) != SQLITE_ROW) return fail(code);
  const std::int64_t through = sqlite3_column_int64(last.Value().get(), 0);
  if (through <= upto.Value()) {
    d.Exec("ROLLBACK");
    return false;
  }
  auto index = d.Prepare(
      "INSERT INTO messages_fts(rowid, sender, receiver, text) "
      "SELECT id, sender, receiver, text FROM messages WHERE id > ?1 AND id <= ?2 ORDER BY id");
  if (!index) return abandon(index.Error());
  sqlite3_bind_int64(index.Value().get(), 1, upto.Value());
  sqlite3_bind_int64(index.Value().get(), 2, through);
  if ((code = sqlite3_step(index.Value().get())) != SQLITE_DONE) return fail(code);
  auto mark = d.Prepare("UPDATE index_state SET upto = ?1");
  if (!mark) return abandon(mark.Error());
  sqlite3_bind_int64(mark.Value().get(), 1, through);
  if ((code = sqlite3_step(mark.Value().get())) != SQLITE_DONE) return fail(code);
  if ((code = d.Exec("COMMIT")) != SQLITE_OK) return fail(code);
  return IndexBehind();
}

TResult<bool> TStore::IndexBehind() {
  auto behind = FImpl->Integer(
      "SELECT EXISTS (SELECT 1 FROM messages WHERE id > (SELECT upto FROM index_state))");
  if (!behind) return behind.Error();
  return behind.Value() != 0;
}

namespace {

// `sender : "a" AND sender : "b"*`: each word of a name in its column.
std::string ColumnFilter(const char* column, const std::string& words, bool prefix) {
  const std::string expression = MatchExpression(words, prefix);
  if (expression.empty()) return "";
  std::string out;
  std::size_t i = 0;
  // The expression is "w1" "w2"*: the quoted strings split at the spaces
  // between them (a quote inside is doubled, so a space after an odd run of
  // quotes ends a string).
  bool inside = false;
  std::string term;
  for (; i < expression.size(); ++i) {
    const char c = expression[i];
    if (c == '"') inside = !inside;
    if (c == ' ' && !inside) {
      out += (out.empty() ? "" : " AND ") + std::string(column) + " : " + term;
      term.clear();
      continue;
    }
    term += c;
  }
  if (!term.empty()) out += (out.empty() ? "" : " AND ") + std::string(column) + " : " + term;
  return out;
}

}  // namespace

TResult<std::vector<THit>> TStore::Search(const TQuery& query) {
  auto& d = *FImpl;
  std::vector<std::string> parts;
  const bool typedWords = !query.words.empty() || !query.from.empty() || !query.to.empty();
  if (std::string words = MatchExpression(query.words, query.prefixLastWord); !words.empty()) {
    parts.push_back(std::move(words));
  }
  if (std::string from = ColumnFilter("sender", query.from, query.prefixLastWord); !from.empty()) {
    parts.push_back(std::move(from));
  }
  if (std::string to = ColumnFilter("receiver", query.to, query.prefixLastWord); !to.empty()) {
    parts.push_back(std::move(to));
  }
  std::vector<THit> hits;
  // Words made only of punctuation name nothing a message can hold.
  if (typedWords && parts.empty()) return hits;
  std::string match;
  for (const std::string& part : parts) match += (match.empty() ? "" : " AND ") + part;
  if (!match.empty()) {
    // The messages stored since the index last caught up go into it first, so
    // that the search sees every message. Where that cannot be done now (a file
    // that is only readable, a writer that holds it too long), the search goes
    // on with the index as it is.
    for (;;) {
      auto more = IndexStep();
      if (!more || !more.Value()) break;
    }
  }

  std::string where;
  if (query.sinceMs) where += " AND m.time >= ?2";
  if (query.untilMs) where += " AND m.time < ?3";
  const std::string limit = query.limit > 0 ? " LIMIT " + std::to_string(query.limit) : "";
  std::string sql;
  if (match.empty()) {
    sql = std::string("SELECT ") + kColumns + ", '' FROM messages m WHERE 1" + where +
          " ORDER BY m.time DESC, m.id DESC" + limit;
  } else {
    // The index gives its hits newest first (by id, the order they were stored),
    // and stops at the limit: a word in every message costs no more than a rare
    // one. The marks are worked out for the hits given alone.
    sql = std::string("SELECT ") + kColumns +
          ", pling_marks(messages_fts) FROM messages_fts JOIN messages m ON m.id = "
          "messages_fts.rowid WHERE messages_fts MATCH ?1" +
          where + " ORDER BY messages_fts.rowid DESC" + limit;
  }
  auto statement = d.Prepare(sql);
  if (!statement) return statement.Error();
  sqlite3_stmt* select = statement.Value().get();
  if (!match.empty()) BindText(select, 1, match);
  if (query.sinceMs) sqlite3_bind_int64(select, 2, *query.sinceMs);
  if (query.untilMs) sqlite3_bind_int64(select, 3, *query.untilMs);
  int code;
  while ((code = sqlite3_step(select)) == SQLITE_ROW) {
    hits.push_back({ReadMessage(select), ParseMarks(Column(select, 9))});
  }
  if (code != SQLITE_DONE) return d.Error(code);
  return hits;
}

TResult<std::vector<TMessage>> TStore::Neighbours(std::int64_t id, std::size_t before,
                                                  std::size_t after) {
  auto& d = *FImpl;
  auto one = d.Prepare(std::string("SELECT ") + kColumns + " FROM messages m WHERE m.id = ?1");
  if (!one) return one.Error();
  sqlite3_bind_int64(one.Value().get(), 1, id);
  int code = sqlite3_step(one.Value().get());
  if (code == SQLITE_DONE) return TError{SQLITE_NOTFOUND, "no message " + std::to_string(id)};
  if (code != SQLITE_ROW) return d.Error(code);
  const TMessage centre = ReadMessage(one.Value().get());

  std::vector<TMessage> older, newer;
  const auto side = [&](const char* sql, std::size_t count,
                        std::vector<TMessage>& out) -> TResult<void> {
    if (count == 0) return {};
    auto statement = d.Prepare(std::string("SELECT ") + kColumns + " FROM messages m " + sql);
    if (!statement) return statement.Error();
    sqlite3_stmt* s = statement.Value().get();
    sqlite3_bind_int64(s, 1, centre.timeMs);
    sqlite3_bind_int64(s, 2, centre.id);
    sqlite3_bind_int64(s, 3, static_cast<sqlite3_int64>(count));
    int step;
    while ((step = sqlite3_step(s)) == SQLITE_ROW) out.push_back(ReadMessage(s));
    if (step != SQLITE_DONE) return d.Error(step);
    return {};
  };
  if (auto r = side("WHERE (m.time, m.id) < (?1, ?2) ORDER BY m.time DESC, m.id DESC LIMIT ?3",
                    before, older);
      !r) {
    return r.Error();
  }
  if (auto r = side("WHERE (m.time, m.id) > (?1, ?2) ORDER BY m.time, m.id LIMIT ?3", after, newer);
      !r) {
    return r.Error();
  }
  std::vector<TMessage> out(older.rbegin(), older.rend());
  out.push_back(centre);
  out.insert(out.end(), newer.begin(), newer.end());
  return out;
}

TResult<std::int64_t> TStore::Count() {
  return FImpl->Integer("SELECT count(*) FROM messages");
}

TResult<void> TStore::Clear() {
  auto& d = *FImpl;
  d.Insert.reset();
  // Dropping the tables is one step however many messages there are (a DELETE
  // would take each one out of the index in turn).
  int code = d.Exec("BEGIN IMMEDIATE");
  if (code != SQLITE_OK) return d.Error(code);
  code = d.Exec(
      "DROP TABLE IF EXISTS messages_fts; DROP TABLE IF EXISTS messages; "
      "DROP TABLE IF EXISTS index_state;");
  if (code == SQLITE_OK) code = d.Exec(kSchema);
  if (code != SQLITE_OK) {
    const TError error = d.Error(code);
    d.Exec("ROLLBACK");
    return error;
  }
  code = d.Exec("COMMIT");
  if (code != SQLITE_OK) {
    const TError error = d.Error(code);
    d.Exec("ROLLBACK");
    return error;
  }
  // The freed pages leave the file, and the old text the -wal.
  d.Shrink();
  return {};
}

TResult<TPruneResult> TStore::Prune(int days, std::uint64_t maxBytes, std::int64_t nowMs) {
  TPruneRun run;
  run.days = days;
  run.maxBytes = maxBytes;
  run.nowMs = nowMs;
  while (!run.done) {
    if (auto step = PruneStep(run); !step) return step.Error();
  }
  return run.result;
}

TResult<void> TStore::PruneStep(TPruneRun& run) {
  auto& d = *FImpl;
  if (run.done) return {};
  // One statement in a transaction of its own; the rows it changed.
  const auto write = [&](const std::string& sql, std::int64_t a,
                         std::int64_t b) -> TResult<std::int64_t> {
    auto statement = d.Prepare(sql);
    if (!statement) return statement.Error();
    sqlite3_bind_int64(statement.Value().get(), 1, a);
    if (sqlite3_bind_parameter_count(statement.Value().get()) > 1)
      sqlite3_bind_int64(statement.Value().get(), 2, b);
    int code = d.Exec("BEGIN IMMEDIATE");
    if (code != SQLITE_OK) return d.Error(code);
    code = sqlite3_step(statement.Value().get());
    if (code != SQLITE_DONE && code != SQLITE_ROW) {
      const TError error = d.Error(code);
      d.Exec("ROLLBACK");
      return error;
    }
    const std::int64_t changed = sqlite3_changes(d.Db);
    code = d.Exec("COMMIT");
    if (code != SQLITE_OK) {
      const TError error = d.Error(code);
      d.Exec("ROLLBACK");
      return error;
    }
    return changed;
  };
  const auto step = static_cast<std::int64_t>(kPruneStep);
  if (run.phase == TPruneRun::TPhase::Age) {
    if (run.days > 0) {
      const std::int64_t cutoff =
          run.nowMs - static_cast<std::int64_t>(run.days) * 24 * 60 * 60 * 1000;
      auto deleted = write(
          "DELETE FROM messages WHERE id IN (SELECT id FROM messages WHERE time < ?1 "
          "ORDER BY time LIMIT ?2)",
          cutoff, step);
      if (!deleted) return deleted.Error();
      run.result.deleted += deleted.Value();
      if (deleted.Value() == step) return {};  // perhaps more
    }
    run.phase = TPruneRun::TPhase::Size;
    return {};
  }
  if (run.phase == TPruneRun::TPhase::Size) {
    // The size counts the index: messages not yet in it are put there first.
    if (run.maxBytes > 0) {
      auto behind = IndexBehind();
      if (!behind) return behind.Error();
      if (behind.Value()) {
        if (auto indexed = IndexStep(); !indexed) return indexed.Error();
        return {};
      }
    }
    // Down to nine tenths of the limit, so that the next prune is not due at the
    // next message. A round deletes the share of the oldest messages the size
    // is over by, in steps; deleted messages leave marks in the index until it
    // is merged, so the index is merged after the round and the size taken
    // again.
    if (run.sizeDrop > 0) {
      auto deleted = write(
          "DELETE FROM messages WHERE id IN (SELECT id FROM messages ORDER BY time, id LIMIT "
          "?1)",
          std::min(run.sizeDrop, step), 0);
      if (!deleted) return deleted.Error();
      run.result.deleted += deleted.Value();
      run.sizeDrop = deleted.Value() == 0 ? 0 : run.sizeDrop - deleted.Value();
      if (run.sizeDrop <= 0) {
        run.mergeIndex = true;
        run.mergeStarted = false;
        // Far more steps than merging the whole index takes: a bound, should
        // merges never stop finding work (a busy writer beside this one).
        run.mergeSteps = static_cast<std::int64_t>(d.UsedBytes() / (kMergePages * 1024)) + 16;
      }
      return {};
    }
    if (run.mergeIndex) {
      // The whole index merged into one segment at once (the only way deleted
      // entries leave it) rewrites all of it in one transaction: seconds on a
      // large history, with every batch waiting. Instead a step merges at most
      // kMergePages pages: the first puts every segment into one merge, the
      // next go on with it, until one finds no more work (then fewer than two
      // rows changed).
      const sqlite3_int64 before = sqlite3_total_changes64(d.Db);
      auto merged = write("INSERT INTO messages_fts(messages_fts, rank) VALUES ('merge', ?1)",
                          run.mergeStarted ? kMergePages : -kMergePages, 0);
      if (!merged) return merged.Error();
      run.mergeStarted = true;
      if (sqlite3_total_changes64(d.Db) - before < 2 || --run.mergeSteps <= 0) {
        run.mergeIndex = false;
        run.mergeStarted = false;
      }
      return {};
    }
    const std::uint64_t used = d.UsedBytes();
    const std::uint64_t target = run.maxBytes / 10 * 9;
    const bool over = run.sizeRounds > 0 ? used > target : used > run.maxBytes;
    if (run.maxBytes == 0 || !over || run.sizeRounds >= 8) {
      run.phase = TPruneRun::TPhase::Shrink;
      return {};
    }
    ++run.sizeRounds;
    auto count = d.Integer("SELECT count(*) FROM messages");
    if (!count) return count.Error();
    if (count.Value() == 0) {
      run.phase = TPruneRun::TPhase::Shrink;
      return {};
    }
    const double share = static_cast<double>(used - target) / static_cast<double>(used);
    run.sizeDrop = static_cast<std::int64_t>(static_cast<double>(count.Value()) * share) + 1;
    return {};
  }
  // Free pages back to the system, some at a time, and then the -wal written
  // back and emptied, deleted or not: what the file takes is what the limit is
  // about.
  auto free = d.Integer("PRAGMA freelist_count");
  if (!free) return free.Error();
  if (free.Value() > 0) {
    d.Exec("PRAGMA incremental_vacuum(2048)");
    auto left = d.Integer("PRAGMA freelist_count");
    if (left && left.Value() > 0 && left.Value() < free.Value()) return {};
  }
  d.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
  run.result.bytesAfter = FileBytes();
  run.done = true;
  return {};
}

std::uint64_t TStore::FileBytes() const {
  return SizeOf(FImpl->Path) + SizeOf(FImpl->Path + "-wal");
}

TResult<void> TStore::ForEach(const std::function<bool(const TMessage&)>& each) {
  auto& d = *FImpl;
  auto statement =
      d.Prepare(std::string("SELECT ") + kColumns + " FROM messages m ORDER BY m.time, m.id");
  if (!statement) return statement.Error();
  sqlite3_stmt* s = statement.Value().get();
  int code;
  while ((code = sqlite3_step(s)) == SQLITE_ROW) {
    if (!each(ReadMessage(s))) return {};
  }
  if (code != SQLITE_DONE) return d.Error(code);
  return {};
}

TResult<void> TStore::Export(TExportFormat format, std::ostream& out) {
  bool first = true;
  if (format == TExportFormat::Csv) out << CsvHeader();
  if (format == TExportFormat::Json) out << "[";
  auto done = ForEach([&](const TMessage& message) {
    if (format == TExportFormat::Json) {
      out << (first ? "\n" : ",\n") << JsonObject(message);
    } else {
      out << CsvRecord(message);
    }
    first = false;
    return static_cast<bool>(out);
  });
  if (!done) return done.Error();
  if (format == TExportFormat::Json) out << (first ? "]\n" : "\n]\n");
  out.flush();
  if (!out) return TError{EIO, "the export could not be written"};
  return {};
}

// ---------------------------------------------------------------------------

TWriter::TWriter(TSettings settings, std::string path, TReport report)
    : FSettings(settings.Clamped()), FPath(std::move(path)), FReport(std::move(report)) {}

TWriter::~TWriter() {
  // A batch staged and never ended is kept (its parts are in the open transaction).
  if (FStore && !FStageFailed) static_cast<void>(FStore->CommitStaged());
}

void TWriter::Report(const std::string& text) {
  if (FReport) FReport(text);
}

bool TWriter::Open() {
  if (FStore) return true;
  if (!FSettings.enabled) return false;
  auto opened = TStore::Open(FPath);
  if (!opened) {
    // Said once; later batches try again (the cause may pass).
    if (!FFailed) Report("The message history cannot be written: " + opened.Error().text);
    FFailed = true;
    return false;
  }
  FFailed = false;
  if (!opened.Value().notice.empty()) Report(opened.Value().notice);
  FStore = std::move(opened.Value().store);
  if (FDeferCheckpoints) FStore->DeferCheckpoints();
  // A file left with messages the index has not taken (a kill in a burst) has
  // them indexed now, in steps.
  FIndexBehind = true;
  PruneIfDue(NowMs());
  return true;
}

bool TWriter::Append(std::span<TMessage> messages) {
  if (!FStaged.empty()) CommitStaged();
  if (!Open()) return false;
  auto done = FStore->Append(messages);
  if (done) {
    FFailed = false;
    FIndexBehind = true;
    return true;
  }
  if (IsDamage(static_cast<int>(done.Error().code))) {
    // Damage found while writing: the file goes aside and a new one takes the batch.
    FStore.reset();
    FPrune.reset();
    auto aside = MoveAside(FPath);
    if (aside) {
      Report("The message history " + FPath + " was damaged (" + done.Error().text +
             "); it was moved to " + aside.Value() + " and a new history started.");
      if (Open() && FStore->Append(messages)) return true;
    }
  }
  if (!FFailed) Report("The message history could not be written: " + done.Error().text);
  FFailed = true;
  FStore.reset();
  FPrune.reset();
  return false;
}

void TWriter::Stage(std::vector<TMessage> part) {
  if (part.empty()) return;
  const std::size_t first = FStaged.size();
  FStaged.insert(FStaged.end(), std::make_move_iterator(part.begin()),
                 std::make_move_iterator(part.end()));
  // After a part that failed, the rest is only kept for CommitStaged.
  if (FStageFailed) return;
  if (!Open()) {
    FStageFailed = true;
    return;
  }
  if (auto staged = FStore->Stage(std::span(FStaged).subspan(first)); !staged) {
    FStageFailed = true;
    FStageError = staged.Error();
  }
}

bool TWriter::CommitStaged() {
  if (FStaged.empty()) return FStore != nullptr;
  std::vector<TMessage> batch = std::exchange(FStaged, {});
  const std::optional<TError> failed = std::exchange(FStageError, std::nullopt);
  if (!std::exchange(FStageFailed, false) && FStore && FStore->Staging()) {
    if (FStore->CommitStaged()) {
      FFailed = false;
      FIndexBehind = true;
      return true;
    }
  }
  if (FStore) FStore->DropStaged();
  // A file another writer held past the busy timeout is not tried again at once
  // (that would keep the window waiting as long again).
  const int code = failed ? static_cast<int>(failed->code & 0xFF) : SQLITE_OK;
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
    if (!FFailed) Report("The message history could not be written: " + failed->text);
    FFailed = true;
    return false;
  }
  // Otherwise the whole batch is tried again in one transaction, with what
  // Append does about a damaged file and its report.
  for (TMessage& message : batch) message.id = 0;
  return Append(batch);
}

void TWriter::Checkpoint() {
  if (FStore && !FStore->Staging()) FStore->Checkpoint();
}

void TWriter::PruneIfDue(std::int64_t nowMs) {
  if (!FStore || FPrune) return;
  if (FLastPruneMs != 0 && nowMs - FLastPruneMs < kPruneIntervalMs && nowMs >= FLastPruneMs) return;
  FLastPruneMs = nowMs;
  TPruneRun run;
  run.days = FSettings.days;
  run.maxBytes = FSettings.MaxBytes();
  run.nowMs = nowMs;
  FPrune = run;
}

void TWriter::Step() {
  if (!FStaged.empty()) {
    CommitStaged();
    return;
  }
  if (!FStore) return;
  if (FStore->CheckpointDue()) {
    FStore->Checkpoint();
    return;
  }
  if (FPrune) {
    if (auto step = FStore->PruneStep(*FPrune); !step) {
      Report("The message history could not be pruned: " + step.Error().text);
      FPrune.reset();
    } else if (FPrune->done) {
      FPrune.reset();
    }
    return;
  }
  if (FIndexBehind) {
    auto more = FStore->IndexStep();
    // An index that cannot be written now is caught up by the next search.
    FIndexBehind = more && more.Value();
  }
}

}  // namespace pling::history

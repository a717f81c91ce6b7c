// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The message history: every message Pling showed or sent, kept in an SQLite
// file with a full-text index, searchable as fast as a person types.
//
// All text here is UTF-8 (callers convert the program's ANSI text with
// FromAnsi). Times are milliseconds since 1970-01-01 UTC. Nothing here throws
// through the caller: failures come back as TResult errors with a text a user can
// read. One TStore is one connection, used by one thread at a time; several
// stores (in threads or processes) may share a file: readers and the one writer
// coexist (WAL, busy timeout).
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mailslot_service.h"
#include "runtime/result.h"

namespace pling::history {

using runtime::TError;
using runtime::TResult;

// ---------------------------------------------------------------------------
// Settings (kept by the program's settings store, section Settings, keys History,
// HistoryDays and HistoryMB; the window and pling-cli read them there and hand
// them over).

struct TSettings {
  bool enabled = true;
  int days = 365;       // 0: no age limit
  int megabytes = 200;  // 0: no size limit
  // The limits brought into their ranges (negative values: the defaults).
  TSettings Clamped() const;
  std::uint64_t MaxBytes() const { return static_cast<std::uint64_t>(megabytes) * 1024 * 1024; }
};

// $XDG_DATA_HOME/pling/history.sqlite, or ~/.local/share/pling/history.sqlite.
std::string DefaultPath();

// ---------------------------------------------------------------------------
// One message.

enum class TDirection : int { In = 0, Out = 1 };

// How a sent message went (stored as these numbers: keep them).
enum class TDelivery : int {
  Received = 0,     // an incoming message
  Local = 1,        // written to the mailslot on this computer
  Confirmed = 2,    // a session message the machine confirmed
  Unconfirmed = 3,  // a session message the machine did not confirm
  Datagram = 4,     // sent as a datagram to one machine; not confirmed
  Workgroup = 5,    // sent as a datagram to the machines of a workgroup
  Failed = 6,       // not sent; reason says why
};

struct TMessage {
  std::int64_t id = 0;      // given by the store; 0 before
  std::int64_t timeMs = 0;  // UTC
  TDirection direction = TDirection::In;
  std::string sender;
  std::string receiver;
  std::string via;  // the machine or server it went through ("" if none)
  std::string text;
  TDelivery delivery = TDelivery::Received;
  std::string reason;  // for Failed (and any note on the delivery)
};

// Milliseconds since 1970 UTC, now.
std::int64_t NowMs();
// "confirmed (session message)", "failed: REASON", ... for a list or export.
std::string DeliveryText(const TMessage& message);
// "in" / "out"; the stored word for a direction.
const char* DirectionText(TDirection direction);

// Who stores what. Every message reaches this machine through its messenger
// mailslot, which one process holds: that process (the window or `pling-cli
// listen`) stores each message it takes out, and no other does (the holder of
// the network ports, a session message's server, `pling-cli deliver` only hand
// messages to the mailslot). Each sender stores what it sent with the outcome:
// a message sent to this computer is stored twice, once sent and once received.
//
// A message taken out of the messenger mailslot (its names and text in the ANSI
// code page, as TlxCustomPling::OnMessage gives them).
TMessage ReceivedMessage(std::string_view senderAnsi, std::string_view receiverAnsi,
                         std::string_view textAnsi, std::int64_t timeMs);
// A message this process sent to `machine` (ANSI), with its outcome as
// TlxCustomPling::Deliver gives it: the delivery, or Failed with the error text.
TMessage SentMessage(std::string_view machineAnsi, std::string_view senderAnsi,
                     std::string_view receiverAnsi, std::string_view textAnsi,
                     const runtime::TResult<platform::TWriteDelivery>& outcome,
                     std::int64_t timeMs);

// ---------------------------------------------------------------------------
// Search.

struct TQuery {
  std::string words;                    // as the user typed them; "" matches every message
  std::string from;                     // words of the sender's name ("" any)
  std::string to;                       // words of the receiver's name ("" any)
  std::optional<std::int64_t> sinceMs;  // timeMs >= since
  std::optional<std::int64_t> untilMs;  // timeMs < until
  std::size_t limit = 200;              // 0: no limit
  // The last word, once it has three characters, also matches longer words
  // ("hel" finds "hello"): search as the user types.
  bool prefixLastWord = true;
};

// A byte range [begin, end) of a message's text.
struct TSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
};

struct THit {
  TMessage message;
  std::vector<TSpan> marks;  // the matched words in message.text, in order
};

// The FTS5 query for words as a user typed them: each word a quoted string (a
// user's '"', '*', '-', NEAR, AND, OR, NOT, ':' or '^' never becomes query
// syntax), all of them required; with prefix, the last word ends in '*' when it
// has three characters or more (and does not end in punctuation). Empty
// when the words hold nothing to search for (only spaces and punctuation).
std::string MatchExpression(std::string_view words, bool prefixLastWord);

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM" (also with a space for the T), local time,
// as milliseconds UTC; nothing when the text is not such a date.
std::optional<std::int64_t> ParseLocalDate(std::string_view text);
// The time as local "YYYY-MM-DD HH:MM:SS", and as UTC ISO 8601 "...Z".
std::string LocalTimeText(std::int64_t timeMs);
std::string UtcTimeText(std::int64_t timeMs);

// ---------------------------------------------------------------------------
// Export formats (shared by pling-cli and the window).

enum class TExportFormat { Json, Csv };
// One message as a JSON object (one line; control characters escaped, other
// text kept as UTF-8; invalid UTF-8 bytes become U+FFFD).
std::string JsonObject(const TMessage& message);
// The CSV header line and one record (RFC 4180: CRLF line ends, fields with a
// comma, quote or line break quoted, quotes doubled).
std::string CsvHeader();
std::string CsvRecord(const TMessage& message);

// ---------------------------------------------------------------------------
// The store.

struct TPruneResult {
  std::int64_t deleted = 0;
  std::uint64_t bytesAfter = 0;
};

// A prune done in steps (TStore::PruneStep), each short enough that a batch of
// messages gets in between: what to prune to, and how far it got.
struct TPruneRun {
  int days = 0;                // 0: none by age
  std::uint64_t maxBytes = 0;  // 0: no size limit
  std::int64_t nowMs = 0;
  TPruneResult result;
  bool done = false;
  // Where it is: by age, by size, then giving the freed space back.
  enum class TPhase { Age, Size, Shrink } phase = TPhase::Age;
  int sizeRounds = 0;         // rounds of deleting by size (bounded)
  std::int64_t sizeDrop = 0;  // messages this round still deletes
  // A round's deletions done, the index is merged, a page budget a step, until
  // a step finds nothing more to merge (mergeSteps: the steps it may still take).
  bool mergeIndex = false;
  bool mergeStarted = false;
  std::int64_t mergeSteps = 0;
};

class TStore;

struct TOpened {
  std::unique_ptr<TStore> store;
  // Something to tell the user once (a damaged file moved aside and a new one
  // started, with both paths); empty otherwise.
  std::string notice;
};

class TStore {
 public:
  // Opens (creating it, its folder mode 0700 and the file mode 0600) the store
  // at path. A file that is not a database or is damaged is moved aside to
  // PATH.corrupt-YYYYMMDDTHHMMSS and a new one started (said in notice). Fails
  // only when no store can be had at path at all.
  static TResult<TOpened> Open(const std::string& path);
  // Opens an existing store for reading; fails (creating nothing) when the file
  // is not there.
  static TResult<std::unique_ptr<TStore>> OpenExisting(const std::string& path);

  // Messages an index or prune step takes at most (a few milliseconds of work).
  static constexpr std::size_t kIndexStep = 200;
  static constexpr std::size_t kPruneStep = 500;
  // Pages of the full-text index one prune step merges at most.
  static constexpr int kMergePages = 64;

  ~TStore();
  TStore(const TStore&) = delete;
  TStore& operator=(const TStore&) = delete;

  const std::string& Path() const;

  // Stores the messages in one transaction: all or none. Sets their id. Only
  // the rows are written: the full-text index takes them later (IndexStep), and
  // a search takes them into the index first.
  TResult<void> Append(std::span<TMessage> messages);
  // The same for a batch whose messages come in parts: Stage stores each part
  // in the batch's transaction (the first begins it) and sets their id;
  // CommitStaged ends it, and the whole batch is stored or none of it. A part
  // that fails gives up the whole batch (as DropStaged does). Meanwhile this
  // store does nothing else: it holds the file for writing.
  TResult<void> Stage(std::span<TMessage> messages);
  TResult<void> CommitStaged();
  void DropStaged();
  bool Staging() const;
  // Leaves writing the -wal back into the file to the owner (CheckpointDue,
  // Checkpoint), who does it when no batch waits on it, rather than in the
  // commit that makes the -wal long.
  void DeferCheckpoints();
  // Whether the -wal has `frames` pages or more (and no batch is being staged).
  bool CheckpointDue(int frames = kCheckpointFrames) const;
  void Checkpoint();
  static constexpr int kCheckpointFrames = 1000;  // SQLite's own threshold
  // Puts up to `count` stored messages that are not yet in the full-text index
  // into it, in one transaction (how far it got is kept in the file with them, so
  // an index cut short by a kill goes on at the next open). True when some are
  // still left.
  TResult<bool> IndexStep(std::size_t count = kIndexStep);
  // Whether some stored messages are not yet in the index.
  TResult<bool> IndexBehind();
  // Newest first: by time, then id, when no words or names are given; else in
  // the order stored, last first (the same order unless the clock was set back).
  TResult<std::vector<THit>> Search(const TQuery& query);
  // Up to `before` messages older and `after` newer than message id, by time,
  // with the message itself; oldest first.
  TResult<std::vector<TMessage>> Neighbours(std::int64_t id, std::size_t before, std::size_t after);
  TResult<std::int64_t> Count();
  // Deletes every message and gives the file's space back.
  TResult<void> Clear();
  // Deletes the messages older than `days` (0: none by age) and then the oldest
  // until the file takes at most maxBytes (0: no limit). All at once: PruneStep
  // for a store that is written meanwhile.
  TResult<TPruneResult> Prune(int days, std::uint64_t maxBytes, std::int64_t nowMs);
  // One short step of that prune (each in a transaction of its own, holding the
  // file for about as long as IndexStep); run.done once it is over.
  TResult<void> PruneStep(TPruneRun& run);
  // The bytes the file (with its -wal) takes now.
  std::uint64_t FileBytes() const;
  // Every message, oldest first, to `each`; stops when it returns false.
  TResult<void> ForEach(const std::function<bool(const TMessage&)>& each);
  // Every message, oldest first, as JSON (an array, one message a line) or CSV.
  TResult<void> Export(TExportFormat format, std::ostream& out);

 private:
  struct TImpl;
  explicit TStore(std::unique_ptr<TImpl> impl);
  std::unique_ptr<TImpl> FImpl;
};

// ---------------------------------------------------------------------------
// The writer a receiving or sending process keeps: off => nothing is opened or
// written; the store is opened on the first batch; a failure is reported once
// (through `report`) and never keeps the caller from going on.

class TWriter {
 public:
  using TReport = std::function<void(const std::string& text)>;
  TWriter(TSettings settings, std::string path, TReport report);
  ~TWriter();

  bool Enabled() const { return FSettings.enabled; }
  // Opens the store now (and prunes it) rather than at the first batch, so that a
  // damaged file is reported at the start. False when off or it failed (reported).
  bool Open();
  // Stores the batch in one transaction. False when history is off or the
  // store failed (reported once). The index takes it later, in Step.
  bool Append(std::span<TMessage> messages);
  // A batch given in parts as its messages come (TStore::Stage), so that most of
  // it is stored by the time it ends: Stage takes a part, CommitStaged stores
  // the batch, all of it or, where that fails, as Append would (moved aside
  // when damaged, reported once). False as for Append. Append and Step commit a
  // batch that was staged first.
  void Stage(std::vector<TMessage> part);
  bool CommitStaged();
  // Checkpoints deferred (TStore::DeferCheckpoints) for every store this writer
  // opens: Step writes the -wal back once it is long; Checkpoint does it now.
  void DeferCheckpoints() { FDeferCheckpoints = true; }
  bool CheckpointDue(int frames = TStore::kCheckpointFrames) const {
    return FStore && FStore->CheckpointDue(frames);
  }
  void Checkpoint();
  // Starts a prune by the settings when an hour has passed since the last one
  // (the first is due at open); the prune itself is done in Step. Cheap
  // otherwise: call it from a loop.
  void PruneIfDue(std::int64_t nowMs);
  // Whether Step has something to do: messages to index, a prune under way, a
  // long -wal to write back (with checkpoints deferred).
  bool HasWork() const {
    return FStore && FStaged.empty() &&
           (FIndexBehind || FPrune.has_value() || FStore->CheckpointDue());
  }
  // One short piece of that work (a few milliseconds); call it between batches
  // while HasWork.
  void Step();
  // The open store, if any.
  TStore* Store() { return FStore.get(); }

  static constexpr std::int64_t kPruneIntervalMs = 60LL * 60 * 1000;

 private:
  void Report(const std::string& text);

  TSettings FSettings;
  std::string FPath;
  TReport FReport;
  std::unique_ptr<TStore> FStore;
  bool FFailed = false;  // a failure was reported and nothing has worked since
  std::int64_t FLastPruneMs = 0;
  bool FIndexBehind = false;
  std::optional<TPruneRun> FPrune;
  std::vector<TMessage> FStaged;      // the batch being staged, all its parts so far
  bool FStageFailed = false;          // a part could not be staged: the batch is appended whole
  std::optional<TError> FStageError;  // why, where the store said
  bool FDeferCheckpoints = false;
};

}  // namespace pling::history

// SPDX-License-Identifier: GPL-3.0-or-later
// The history store: search (folding, hostile words, filters, marks), prune,
// damage, privacy, and the writer's off switch.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files.h"
#include "history/history.h"

namespace pling::history {
namespace {

namespace fs = std::filesystem;

class HistoryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pling-history-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    FRoot = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(FRoot, ignored);
  }
  std::string PathIn(const std::string& folder) const {
    return (FRoot / folder / "history.sqlite").string();
  }

  std::unique_ptr<TStore> OpenStore(const std::string& path) {
    auto opened = TStore::Open(path);
    EXPECT_TRUE(opened) << (opened ? "" : opened.Error().text);
    if (!opened) return nullptr;
    EXPECT_EQ(opened.Value().notice, "");
    return std::move(opened.Value().store);
  }

  static TMessage Message(std::int64_t time, std::string sender, std::string receiver,
                          std::string text) {
    TMessage m;
    m.timeMs = time;
    m.sender = std::move(sender);
    m.receiver = std::move(receiver);
    m.text = std::move(text);
    return m;
  }

  static std::vector<std::string> Texts(const std::vector<THit>& hits) {
    std::vector<std::string> texts;
    for (const auto& hit : hits) texts.push_back(hit.message.text);
    return texts;
  }

  static TQuery Words(std::string words, bool prefix = true, std::size_t limit = 200) {
    TQuery query;
    query.words = std::move(words);
    query.prefixLastWord = prefix;
    query.limit = limit;
    return query;
  }
  static TQuery Names(std::string from, std::string to) {
    TQuery query;
    query.from = std::move(from);
    query.to = std::move(to);
    return query;
  }
  static TQuery Dates(std::int64_t since, std::int64_t until) {
    TQuery query;
    query.sinceMs = since;
    query.untilMs = until;
    return query;
  }

  fs::path FRoot;
};

TEST_F(HistoryStoreTest, SearchFoldsMarksFiltersAndNeverTurnsWordsIntoSyntax) {
  auto store = OpenStore(PathIn("a/b"));
  ASSERT_TRUE(store);
  std::vector<TMessage> batch = {
      Message(1000, "ANNA", "BOB", "Zażółć gęślą jaźń"),
      Message(2000, "BOB", "ANNA", "ПРИВЕТ, мир"),
      Message(3000, "CAROL-PC", "ANNA", "say \"NEAR\" or -not * here"),
      Message(4000, "ANNA", "CAROL-PC", "hello again, hello"),
  };
  ASSERT_TRUE(store->Append(batch));
  for (const auto& m : batch) EXPECT_GT(m.id, 0);
  ASSERT_EQ(store->Count().Value(), 4);

  // Diacritics and the stroke of "ł" off, Cyrillic case folded; the marks are
  // the matched word's bytes in the stored text.
  auto hits = store->Search(Words("zazolc", false));
  ASSERT_TRUE(hits);
  ASSERT_EQ(hits.Value().size(), 1u);
  ASSERT_EQ(hits.Value()[0].marks.size(), 1u);
  const TSpan mark = hits.Value()[0].marks[0];
  EXPECT_EQ(batch[0].text.substr(mark.begin, mark.end - mark.begin), "Zażółć");
  EXPECT_EQ(Texts(store->Search(Words("привет")).Value()), std::vector<std::string>{"ПРИВЕТ, мир"});
  EXPECT_EQ(Texts(store->Search(Words("МИР")).Value()), std::vector<std::string>{"ПРИВЕТ, мир"});

  // The last word as a prefix (as the user types), the others whole; every
  // occurrence marked.
  hits = store->Search(Words("hel"));
  ASSERT_EQ(hits.Value().size(), 1u);
  EXPECT_EQ(hits.Value()[0].marks.size(), 2u);
  EXPECT_TRUE(store->Search(Words("hel again")).Value().empty());
  EXPECT_TRUE(store->Search(Words("hel", false)).Value().empty());

  // Query syntax typed by a user is text: no error, and it finds the text.
  for (const char* typed : {"\"", "\"NEAR\"", "NEAR(", "-not", "*", "say OR", "sender:", "^here",
                            "a AND", "(", "\"\"\"", "{sender}", "not*"}) {
    auto r = store->Search(Words(typed));
    EXPECT_TRUE(r) << typed << ": " << (r ? "" : r.Error().text);
  }
  EXPECT_EQ(Texts(store->Search(Words("\"NEAR\" -not")).Value()),
            std::vector<std::string>{"say \"NEAR\" or -not * here"});
  EXPECT_TRUE(store->Search(Words("say OR hello")).Value().empty());  // OR is a word
  // Punctuation alone names nothing.
  EXPECT_TRUE(store->Search(Words("-- *")).Value().empty());

  // Names filter their own column; dates; newest first; the limit.
  EXPECT_EQ(Texts(store->Search(Names("anna", "")).Value()),
            (std::vector<std::string>{"hello again, hello", "Zażółć gęślą jaźń"}));
  EXPECT_EQ(Texts(store->Search(Names("", "carol")).Value()),
            std::vector<std::string>{"hello again, hello"});
  EXPECT_EQ(Texts(store->Search(Names("anna", "bob")).Value()),
            std::vector<std::string>{"Zażółć gęślą jaźń"});
  EXPECT_EQ(Texts(store->Search(Dates(2000, 4000)).Value()),
            (std::vector<std::string>{"say \"NEAR\" or -not * here", "ПРИВЕТ, мир"}));
  EXPECT_EQ(store->Search(Words("", true, 3)).Value().size(), 3u);
  EXPECT_EQ(store->Search({}).Value().front().message.timeMs, 4000);

  // Neighbours by time, oldest first, the message itself among them.
  auto around = store->Neighbours(batch[2].id, 1, 5);
  ASSERT_TRUE(around);
  ASSERT_EQ(around.Value().size(), 3u);
  EXPECT_EQ(around.Value()[0].id, batch[1].id);
  EXPECT_EQ(around.Value()[1].id, batch[2].id);
  EXPECT_EQ(around.Value()[2].id, batch[3].id);

  // A second connection (another process's) sees the committed batch.
  auto reader = TStore::OpenExisting(store->Path());
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader.Value()->Count().Value(), 4);
}

TEST_F(HistoryStoreTest, PrivateFilesAndClearLeavesNoTextBehind) {
  const std::string path = PathIn("private");
  auto store = OpenStore(path);
  ASSERT_TRUE(store);
  std::vector<TMessage> batch = {Message(NowMs(), "A", "B", "secret-word-4711")};
  ASSERT_TRUE(store->Append(batch));
  for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0) << file;
    EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
  }
  struct stat folder {};
  ASSERT_EQ(stat(fs::path(path).parent_path().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);

  ASSERT_TRUE(store->Clear());
  EXPECT_EQ(store->Count().Value(), 0);
  for (const std::string& file : {path, path + "-wal"}) {
    EXPECT_EQ(testing::FileText(file).find("secret-word-4711"), std::string::npos) << file;
  }
  EXPECT_TRUE(store->Search(Words("secret")).Value().empty());
  ASSERT_TRUE(store->Append(batch));  // still a working store
  EXPECT_EQ(store->Search(Words("secret")).Value().size(), 1u);
}

TEST_F(HistoryStoreTest, PruneByAgeAndBySize) {
  auto store = OpenStore(PathIn("prune"));
  ASSERT_TRUE(store);
  constexpr std::int64_t kDay = 24LL * 60 * 60 * 1000;
  const std::int64_t now = 400 * kDay;
  std::vector<TMessage> batch;
  for (int i = 0; i < 4000; ++i) {
    // Old ones first (10 days back), then a day's worth; distinct words.
    const std::int64_t time = i < 1000 ? now - 10 * kDay + i : now - kDay + i;
    batch.push_back(Message(time, "S" + std::to_string(i % 7), "R",
                            "message number " + std::to_string(i) + " word" + std::to_string(i) +
                                " " + std::string(200, 'x')));
  }
  ASSERT_TRUE(store->Append(batch));

  auto pruned = store->Prune(5, 0, now);
  ASSERT_TRUE(pruned) << pruned.Error().text;
  EXPECT_EQ(pruned.Value().deleted, 1000);
  EXPECT_TRUE(store->Search(Words("word999", false)).Value().empty());
  EXPECT_EQ(store->Search(Words("word1000", false)).Value().size(), 1u);

  const std::uint64_t limit = store->FileBytes() / 2;
  pruned = store->Prune(5, limit, now);
  ASSERT_TRUE(pruned) << pruned.Error().text;
  EXPECT_GT(pruned.Value().deleted, 0);
  EXPECT_LE(store->FileBytes(), limit);
  EXPECT_EQ(pruned.Value().bytesAfter, store->FileBytes());
  // The oldest went, the newest stayed, and the index agrees with the table.
  EXPECT_EQ(store->Search(Words("word3999", false)).Value().size(), 1u);
  EXPECT_TRUE(store->Search(Words("word1000", false)).Value().empty());
  EXPECT_EQ(static_cast<std::int64_t>(store->Search(Words("number", true, 0)).Value().size()),
            store->Count().Value());
}

// Messages stored and then killed before the index took them all: after the
// next open a search finds every one, once; the index goes on where it stopped.
// A message stored after the newest indexed one was deleted is found too (its
// id is never taken for an indexed one).
TEST_F(HistoryStoreTest, IndexCatchesUpAfterAKill) {
  const std::string path = PathIn("killed");
  constexpr int kStored = 3 * static_cast<int>(TStore::kIndexStep) + 7;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto opened = TStore::Open(path);
    if (!opened) _exit(2);
    std::vector<TMessage> batch;
    for (int i = 0; i < kStored; ++i)
      batch.push_back(Message(1000 + i, "S", "R", "number word" + std::to_string(i)));
    if (!opened.Value().store->Append(batch)) _exit(3);
    if (!opened.Value().store->IndexStep()) _exit(4);
    // A batch staged in parts and killed before its commit leaves nothing.
    std::vector<TMessage> part = {Message(9000, "S", "R", "number staged")};
    if (!opened.Value().store->Stage(part) || !opened.Value().store->Stage(part)) _exit(6);
    raise(SIGKILL);
    _exit(5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

  auto store = OpenStore(path);
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->IndexBehind().Value());
  EXPECT_EQ(Texts(store->Search(Words("word" + std::to_string(kStored - 1), false)).Value()),
            std::vector<std::string>{"number word" + std::to_string(kStored - 1)});
  EXPECT_FALSE(store->IndexBehind().Value());
  EXPECT_EQ(store->Search(Words("number", false, 0)).Value().size(), std::size_t{kStored});
  EXPECT_EQ(store->Search(Words("word0", false)).Value().size(), 1u);

  // The newest message, indexed, goes (it is the oldest by time); the next one
  // stored must still be found.
  std::vector<TMessage> early = {Message(1, "S", "R", "early newest")};
  ASSERT_TRUE(store->Append(early));
  ASSERT_EQ(store->Search(Words("early", false)).Value().size(), 1u);
  ASSERT_EQ(store->Prune(0, 0, 0).Value().deleted, 0);
  TPruneRun run;
  run.days = 1;
  run.nowMs = 1 + 24LL * 60 * 60 * 1000 + 500;
  while (!run.done) ASSERT_TRUE(store->PruneStep(run));
  ASSERT_EQ(run.result.deleted, 1);
  std::vector<TMessage> later = {Message(5000, "S", "R", "later one")};
  ASSERT_TRUE(store->Append(later));
  EXPECT_GT(later[0].id, early[0].id);
  EXPECT_EQ(store->Search(Words("later", false)).Value().size(), 1u);
  EXPECT_EQ(store->Search(Words("number", false, 0)).Value().size(), std::size_t{kStored});
  EXPECT_TRUE(store->Search(Words("staged", false)).Value().empty());

  // Committed, a staged batch is there whole, after the others.
  std::vector<TMessage> first = {Message(6000, "S", "R", "staged one")};
  std::vector<TMessage> second = {Message(6001, "S", "R", "staged two")};
  ASSERT_TRUE(store->Stage(first));
  ASSERT_TRUE(store->Stage(second));
  ASSERT_TRUE(store->CommitStaged());
  EXPECT_GT(first[0].id, later[0].id);
  EXPECT_EQ(second[0].id, first[0].id + 1);
  EXPECT_EQ(store->Search(Words("staged", false)).Value().size(), 2u);
}

// A prune by size merges the index a few pages a step, with batches stored and
// searched between the steps: it takes several steps, each batch is found at
// once, and in the end the file is within the limit and the index agrees with
// the messages (the deleted ones gone, every other one found once).
TEST_F(HistoryStoreTest, PruneMergesTheIndexInStepsBetweenBatches) {
  auto store = OpenStore(PathIn("merge"));
  ASSERT_TRUE(store);
  constexpr int kMessages = 16000;
  std::vector<TMessage> batch;
  for (int i = 0; i < kMessages; ++i) {
    // Words of their own, so that the index is many pages.
    std::string text = "number";
    for (const char* tail : {"a", "b", "c", "d", "e", "f", "g", "h"})
      text += " u" + std::to_string(i) + tail;
    batch.push_back(Message(i, "S", "R", std::move(text)));
  }
  ASSERT_TRUE(store->Append(batch));
  for (;;) {
    auto more = store->IndexStep(2000);
    ASSERT_TRUE(more);
    if (!more.Value()) break;
  }
  const std::uint64_t limit = store->FileBytes() / 2;
  TPruneRun run;
  run.maxBytes = limit;
  int mergeSteps = 0;
  int added = 0;
  while (!run.done) {
    const bool merging = run.mergeIndex;
    auto step = store->PruneStep(run);
    ASSERT_TRUE(step) << step.Error().text;
    if (!merging) continue;
    ++mergeSteps;
    const std::string word = "later" + std::to_string(added++);
    std::vector<TMessage> one = {Message(1000000 + added, "S", "R", "number " + word)};
    ASSERT_TRUE(store->Append(one));
    ASSERT_EQ(store->Search(Words(word, false)).Value().size(), 1u) << word;
  }
  EXPECT_GT(mergeSteps, 2);  // more than one step of work, and the one that found none
  EXPECT_GT(run.result.deleted, 0);
  EXPECT_LE(store->FileBytes(), limit);
  EXPECT_TRUE(store->Search(Words("u0a", false)).Value().empty());
  EXPECT_EQ(store->Search(Words("u" + std::to_string(kMessages - 1) + "h", false)).Value().size(),
            1u);
  EXPECT_EQ(store->Search(Words("later0", false)).Value().size(), 1u);
  EXPECT_EQ(static_cast<std::int64_t>(store->Search(Words("number", false, 0)).Value().size()),
            store->Count().Value());
}

// A file of the first schema (every message indexed by a trigger as it was
// stored) opens as the present one: its messages are found, new ones are found
// once, and a prune keeps the index and the messages in step.
TEST_F(HistoryStoreTest, FileOfTheFirstSchemaIsTakenOver) {
  const std::string path = PathIn("first");
  {
    auto store = OpenStore(path);
    ASSERT_TRUE(store);
    std::vector<TMessage> batch;
    for (int i = 0; i < 50; ++i)
      batch.push_back(Message(1000 + i, "S", "R", "old message " + std::to_string(i)));
    ASSERT_TRUE(store->Append(batch));
    ASSERT_EQ(store->Search(Words("old", false, 0)).Value().size(), 50u);
  }
  {
    // Back to the first schema as its program left it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* const first = R"sql(
      DROP TRIGGER messages_ad; DROP TRIGGER messages_au; DROP TABLE index_state;
      CREATE TRIGGER messages_ai AFTER INSERT ON messages BEGIN
        INSERT INTO messages_fts(rowid, sender, receiver, text)
          VALUES (new.id, new.sender, new.receiver, new.text);
      END;
      CREATE TRIGGER messages_ad AFTER DELETE ON messages BEGIN
        INSERT INTO messages_fts(messages_fts, rowid, sender, receiver, text)
          VALUES ('delete', old.id, old.sender, old.receiver, old.text);
      END;
      PRAGMA user_version = 1;)sql";
    EXPECT_EQ(sqlite3_exec(db, first, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  auto store = OpenStore(path);
  ASSERT_TRUE(store);
  EXPECT_FALSE(store->IndexBehind().Value());
  std::vector<TMessage> batch = {Message(3000, "S", "R", "new message")};
  ASSERT_TRUE(store->Append(batch));
  EXPECT_EQ(store->Search(Words("message", false, 0)).Value().size(), 51u);
  EXPECT_EQ(store->Prune(0, 0, 0).Value().deleted, 0);
  auto pruned = store->Prune(1, 0, 1010 + 24LL * 60 * 60 * 1000);
  ASSERT_TRUE(pruned) << pruned.Error().text;
  EXPECT_EQ(pruned.Value().deleted, 10);
  EXPECT_EQ(store->Search(Words("message", false, 0)).Value().size(), 41u);
  EXPECT_EQ(store->Search(Words("old 5", false)).Value().size(), 0u);
}

TEST_F(HistoryStoreTest, DamagedFileMovedAsideOnceAndANewOneStarted) {
  const std::string path = PathIn("damaged");
  fs::create_directories(fs::path(path).parent_path());
  const std::string garbage(8192, 'G');
  std::ofstream(path, std::ios::binary) << garbage;

  std::vector<std::string> reports;
  TWriter writer({}, path, [&](const std::string& text) { reports.push_back(text); });
  std::vector<TMessage> batch = {Message(NowMs(), "A", "B", "after the damage")};
  ASSERT_TRUE(writer.Append(batch));
  ASSERT_TRUE(writer.Append(batch));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find(path), std::string::npos) << reports[0];
  std::vector<fs::path> aside;
  for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) {
    if (entry.path().filename().string().starts_with("history.sqlite.corrupt-"))
      aside.push_back(entry.path());
  }
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_NE(reports[0].find(aside[0].string()), std::string::npos) << reports[0];
  EXPECT_EQ(testing::FileText(aside[0]), garbage);
  EXPECT_EQ(writer.Store()->Count().Value(), 2);
}

TEST_F(HistoryStoreTest, WriterOffCreatesNothingAndUnwritablePlaceOnlyReports) {
  const std::string path = PathIn("off");
  std::vector<std::string> reports;
  TWriter off(TSettings{false, 365, 200}, path,
              [&](const std::string& text) { reports.push_back(text); });
  std::vector<TMessage> batch = {Message(NowMs(), "A", "B", "not kept")};
  EXPECT_FALSE(off.Append(batch));
  EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
  EXPECT_TRUE(reports.empty());

  // A place where no file can be made: said once, and the caller goes on.
  const std::string blocked = (FRoot / "file").string();
  std::ofstream(blocked) << "x";
  TWriter failing({}, blocked + "/history.sqlite",
                  [&](const std::string& text) { reports.push_back(text); });
  EXPECT_FALSE(failing.Append(batch));
  EXPECT_FALSE(failing.Append(batch));
  EXPECT_EQ(reports.size(), 1u);
}

TEST(HistoryText, MatchExpressionAndExportFormats) {
  EXPECT_EQ(MatchExpression("  hello  wor ", true), "\"hello\" \"wor\"*");
  EXPECT_EQ(MatchExpression("say \"hi\"", false), "\"say\" \"\"\"hi\"\"\"");
  EXPECT_EQ(MatchExpression("hello,", true), "\"hello,\"");
  // A prefix from three characters on (UTF-8 characters, not bytes).
  EXPECT_EQ(MatchExpression("he", true), "\"he\"");
  EXPECT_EQ(MatchExpression("g\xC4\x99\xC5\x9B", true), "\"g\xC4\x99\xC5\x9B\"*");
  EXPECT_EQ(MatchExpression("- * \"", true), "");

  TMessage m;
  m.id = 7;
  m.timeMs = 86400000;
  m.sender = "ANNA";
  m.text = std::string("a\"b\\c\x01\td\r\ne\x7f", 12) + "żółw\xff";
  EXPECT_EQ(JsonObject(m),
            "{\"id\":7,\"time\":\"1970-01-02T00:00:00Z\",\"direction\":\"in\",\"sender\":\"ANNA\","
            "\"receiver\":\"\",\"via\":\"\",\"delivery\":\"received\",\"reason\":\"\","
            "\"text\":\"a\\\"b\\\\c\\u0001\\td\\r\\ne\\u007fżółw\xEF\xBF\xBD\"}");
  m.text = "one, \"two\"\r\nthree";
  m.sender = "plain";
  EXPECT_EQ(CsvRecord(m),
            "7,1970-01-02T00:00:00Z,in,plain,,,received,,\"one, \"\"two\"\"\r\nthree\"\r\n");

  EXPECT_FALSE(ParseLocalDate("2024-02-30"));
  EXPECT_FALSE(ParseLocalDate("2024-1-01"));
  EXPECT_FALSE(ParseLocalDate("2024-01-01T24:00"));
  ASSERT_TRUE(ParseLocalDate("2024-03-01T10:30"));
  EXPECT_EQ(*ParseLocalDate("2024-03-01T10:30") - *ParseLocalDate("2024-03-01"),
            (10 * 60 + 30) * 60000);
}

}  // namespace
}  // namespace pling::history

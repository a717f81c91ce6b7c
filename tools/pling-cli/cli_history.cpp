// SPDX-License-Identifier: GPL-3.0-or-later
// pling-cli history: search, clear and export the message history.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli.h"
#include "history/history.h"
#include "mailslot/message_text.h"
#include "platform/codepage.h"

namespace pling::cli {

namespace {

constexpr const char* kHistoryUsage =
    "usage: pling-cli history [search WORDS...] [--from NAME] [--to NAME]\n"
    "                         [--since DATE] [--until DATE] [--limit N] [--json]\n"
    "       pling-cli history clear\n"
    "       pling-cli history export --json|--csv\n"
    "\n"
    "The messages this computer showed or sent, newest first, one a line:\n"
    "  TIME  SENDER to RECEIVER : TEXT   (a sent one also says how it went)\n"
    "  search WORDS  messages holding every word (in the text or a name), the last\n"
    "                word also as the start of a longer one; case and accents do\n"
    "                not count (\"zazolc\" finds \"Zażółć\")\n"
    "  --from NAME   sent by NAME (the words of the name); --to NAME: sent to NAME\n"
    "  --since DATE  at or after DATE; --until DATE: before DATE, and a DATE without\n"
    "                a time takes in that whole day. DATE is YYYY-MM-DD or\n"
    "                YYYY-MM-DDTHH:MM, local time\n"
    "  --limit N     at most N messages (default 100; 0: all)\n"
    "  --json        one JSON object a line (UTF-8)\n"
    "'clear' deletes every message; 'export' writes them all, oldest first, as a JSON\n"
    "array or as CSV (RFC 4180) on standard output.\n"
    "The history lives in $XDG_DATA_HOME/pling/history.sqlite; the settings\n"
    "Settings History (on/off), HistoryDays (365) and HistoryMB (200) bound it.\n";

int Usage(const std::string& problem) {
  return UsageError(problem, kHistoryUsage);
}

// The store, or nothing when there is no history yet (reading makes none).
// False: it cannot be read (said on standard error).
bool OpenForReading(std::unique_ptr<history::TStore>& store) {
  const std::string path = history::DefaultPath();
  if (!std::filesystem::exists(path)) return true;
  auto opened = history::TStore::OpenExisting(path);
  if (!opened) {
    PrintError("cannot read the message history: " + opened.Error().text);
    return false;
  }
  store = std::move(opened.Value());
  return true;
}

std::string ForTerminal(const std::string& utf8) {
  return EscapeForTerminal(platform::Utf8ToAnsi(utf8));
}

std::string Line(const history::TMessage& m) {
  std::string line =
      history::LocalTimeText(m.timeMs) + "  " +
      mailslot::MessageLine(ForTerminal(m.sender), ForTerminal(m.receiver), ForTerminal(m.text));
  if (m.direction == history::TDirection::Out) {
    line += "  [" + ForTerminal(history::DeliveryText(m)) + "]";
  }
  return line;
}

int Search(const TArgs& args, bool searchWords) {
  history::TQuery query;
  query.limit = 100;
  bool json = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--from" || arg == "--to" || arg == "--since" || arg == "--until" ||
               arg == "--limit") {
      if (i + 1 >= args.size()) return Usage(arg + " needs a value");
      const std::string& value = args[++i];
      if (arg == "--from") {
        query.from = platform::AnsiToUtf8(FromTerminal(value));
      } else if (arg == "--to") {
        query.to = platform::AnsiToUtf8(FromTerminal(value));
      } else if (arg == "--limit") {
        std::size_t used = 0;
        long long limit = -1;
        try {
          limit = std::stoll(value, &used);
        } catch (...) {
          used = 0;
        }
        if (used != value.size() || limit < 0)
          return Usage("--limit needs a whole number, 0 or more");
        query.limit = static_cast<std::size_t>(limit);
      } else {
        auto time = history::ParseLocalDate(value);
        if (!time)
          return Usage(arg + " needs a date: YYYY-MM-DD or YYYY-MM-DDTHH:MM, not " + value);
        if (arg == "--until" && value.size() == 10) {
          // The whole day: up to the next day's start (which mktime finds
          // across a change of daylight saving time too).
          time = history::ParseLocalDate(value + "T23:59");
          if (time) *time += 60 * 1000;
        }
        (arg == "--since" ? query.sinceMs : query.untilMs) = time;
      }
    } else if (searchWords && !(arg.size() > 1 && arg.starts_with("--"))) {
      if (!query.words.empty()) query.words += ' ';
      query.words += platform::AnsiToUtf8(FromTerminal(arg));
    } else {
      return Usage("unknown argument " + arg);
    }
  }
  if (searchWords && query.words.empty()) return Usage("search needs WORDS");

  std::unique_ptr<history::TStore> store;
  if (!OpenForReading(store)) return 1;
  if (!store) return 0;
  auto hits = store->Search(query);
  if (!hits) {
    PrintError("cannot search the message history: " + hits.Error().text);
    return 1;
  }
  std::string out;
  for (const history::THit& hit : hits.Value()) {
    out += json ? history::JsonObject(hit.message) : Line(hit.message);
    out += '\n';
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (std::fflush(stdout) != 0) {
    PrintError("cannot write to standard output");
    return 1;
  }
  return 0;
}

int Clear(const TArgs& args) {
  if (args.size() > 1) return Usage("clear takes no arguments");
  std::unique_ptr<history::TStore> store;
  if (!OpenForReading(store)) return 1;
  if (!store) {
    std::printf("the message history is empty\n");
    return 0;
  }
  const auto count = store->Count();
  auto cleared = store->Clear();
  if (!cleared) {
    PrintError("cannot clear the message history: " + cleared.Error().text);
    return 1;
  }
  std::printf("deleted %lld messages from the history\n",
              static_cast<long long>(count ? count.Value() : 0));
  return 0;
}

int Export(const TArgs& args) {
  if (args.size() != 2 || (args[1] != "--json" && args[1] != "--csv")) {
    return Usage("export needs --json or --csv");
  }
  const auto format =
      args[1] == "--json" ? history::TExportFormat::Json : history::TExportFormat::Csv;
  std::unique_ptr<history::TStore> store;
  if (!OpenForReading(store)) return 1;
  if (!store) {
    std::cout << (format == history::TExportFormat::Json ? "[]\n" : history::CsvHeader());
    std::cout.flush();
    return std::cout ? 0 : 1;
  }
  auto done = store->Export(format, std::cout);
  if (!done) {
    PrintError("cannot export the message history: " + done.Error().text);
    return 1;
  }
  return 0;
}

}  // namespace

void RecordSent(const std::string& machine, const std::string& sender, const std::string& receiver,
                const std::string& text,
                const runtime::TResult<platform::TWriteDelivery>& outcome) {
  history::TWriter writer(HistorySettings(), history::DefaultPath(),
                          [](const std::string& problem) { PrintError(problem); });
  std::vector<history::TMessage> sent = {
      history::SentMessage(machine, sender, receiver, text, outcome, history::NowMs())};
  writer.Append(sent);
}

int HistoryCommand(const TArgs& args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kHistoryUsage, stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "clear") return Clear(args);
  if (!args.empty() && args[0] == "export") return Export(args);
  if (!args.empty() && args[0] == "search")
    return Search(TArgs(args.begin() + 1, args.end()), true);
  return Search(args, false);
}

}  // namespace pling::cli

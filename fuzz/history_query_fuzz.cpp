// SPDX-License-Identifier: GPL-3.0-or-later
// The history's search words as users type them (and dates, and the export
// formats of any stored bytes): the words always become a well-formed query of
// quoted strings that the full-text index takes without an error, whatever
// quotes, stars, operators or bytes they hold.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "history/history.h"

namespace {

using namespace pling::history;

// "w1" "w2" ... with quotes inside doubled, and at most a '*' at the very end.
bool WellFormed(std::string_view expression) {
  std::size_t i = 0;
  while (i < expression.size()) {
    if (expression[i] != '"') return false;
    ++i;
    for (;;) {
      if (i >= expression.size()) return false;
      if (expression[i] == '"') {
        if (i + 1 < expression.size() && expression[i + 1] == '"') {
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      ++i;
    }
    if (i < expression.size() && expression[i] == '*') {
      ++i;
      if (i != expression.size()) return false;
    }
    if (i < expression.size()) {
      if (expression[i] != ' ') return false;
      ++i;
      if (i >= expression.size()) return false;
    }
  }
  return true;
}

bool ValidUtf8WithoutControls(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
    std::size_t length = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

TStore& Store() {
  static TStore* store = [] {
    char dir[] = "/tmp/pling-history-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr) std::abort();
    const std::string path = std::string(dir) + "/history.sqlite";
    auto opened = TStore::Open(path);
    if (!opened) std::abort();
    TStore* s = opened.Value().store.release();
    std::vector<TMessage> seed(1);
    seed[0].sender = "ANNA";
    seed[0].receiver = "BOB";
    seed[0].text = "Zażółć \"quoted\" NEAR the * star - minus";
    if (!s->Append(seed)) std::abort();
    // The files go when the process ends; the open store keeps working.
    unlink(path.c_str());
    unlink((path + "-wal").c_str());
    unlink((path + "-shm").c_str());
    rmdir(dir);
    return s;
  }();
  return *store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const bool prefix = size > 0 && (data[0] & 1) != 0;
  // Words, sender and receiver, split at 0x00.
  const std::size_t first = input.find('\0');
  const std::size_t second = first == std::string_view::npos ? first : input.find('\0', first + 1);
  TQuery query;
  query.words = std::string(input.substr(0, first));
  if (first != std::string_view::npos)
    query.from = std::string(input.substr(first + 1, second - first - 1));
  if (second != std::string_view::npos) query.to = std::string(input.substr(second + 1));
  query.prefixLastWord = prefix;
  query.limit = 5;

  const std::string expression = MatchExpression(query.words, prefix);
  if (!WellFormed(expression)) std::abort();
  auto hits = Store().Search(query);
  if (!hits) std::abort();  // a user's words never make the query fail
  for (const THit& hit : hits.Value()) {
    for (const TSpan& mark : hit.marks) {
      if (mark.begin > mark.end || mark.end > hit.message.text.size()) std::abort();
    }
  }

  if (const auto time = ParseLocalDate(input); time && input.size() != 10 && input.size() != 16) {
    std::abort();
  }

  TMessage message;
  message.sender = query.from;
  message.text = std::string(input);
  const std::string json = JsonObject(message);
  if (!ValidUtf8WithoutControls(json)) std::abort();
  const std::string csv = CsvRecord(message);
  if (csv.size() < 2 || csv.substr(csv.size() - 2) != "\r\n") std::abort();
  return 0;
}

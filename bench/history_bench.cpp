// SPDX-License-Identifier: GPL-3.0-or-later
// The message history at the sizes a user reaches, in one process:
//
// - search: 100,000 messages (50 senders, a vocabulary of 20,000 words used as
//   language uses them: a few often, most rarely; 3 to 25 words a message), and
//   300 searches of each kind, newest 200 hits with their marks: a whole word
//   (drawn from the vocabulary by use), the first three letters of a word as the
//   user types them, and a sender's messages. p50 and p99 in ms, beside the
//   anchor: one scan of all 100,000 texts in memory for the same word (memmem),
//   the least any search without an index costs;
// - size: 1,000,000 such messages appended in batches of 100, the file's bytes
//   beside the anchor: the bytes of their names and texts alone;
// - prune: that file pruned to 200 MB in the steps a receiving process takes,
//   with batches stored in between: the bytes after it, the time it took, the
//   longest step (the longest a batch waits) and the longest batch.
//
// Usage: build/bin/pling_history_bench [MESSAGES_FOR_SIZE]. Prints figures and
// ratios; asserts nothing. Build it as Release for figures that mean anything.
// PLING_BENCH_SIZE_FILE=PATH keeps the filled file there, and a later run prunes
// a copy of it instead of filling one again; PLING_BENCH_NO_SEARCH=1 leaves the
// search out.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "history/history.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace pling::history;
namespace fs = std::filesystem;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Words made of syllables, some with the letters of other languages in them.
std::vector<std::string> Vocabulary(std::size_t count, std::mt19937& random) {
  static const char* const kSyllables[] = {"ka", "lo", "mi", "ne", "ra", "to", "su", "vi", "de",
                                           "ba", "po", "zu", "że", "łó", "ши", "га", "ét", "ün"};
  std::vector<std::string> words;
  std::uniform_int_distribution<int> syllables(0, 2), pick(0, std::size(kSyllables) - 1);
  while (words.size() < count) {
    std::string word;
    for (int n = syllables(random) + 1; n > 0; --n) word += kSyllables[pick(random)];
    words.push_back(word + (words.size() < 400 ? "" : std::to_string(words.size() % 97)));
  }
  return words;
}

// A word's rank drawn as language uses words (Zipf, s = 1).
class TZipf {
 public:
  TZipf(std::size_t count) {
    double sum = 0;
    for (std::size_t k = 1; k <= count; ++k)
      FCumulative.push_back(sum += 1.0 / static_cast<double>(k));
  }
  std::size_t operator()(std::mt19937& random) {
    std::uniform_real_distribution<double> u(0, FCumulative.back());
    return static_cast<std::size_t>(
        std::lower_bound(FCumulative.begin(), FCumulative.end(), u(random)) - FCumulative.begin());
  }

 private:
  std::vector<double> FCumulative;
};

struct TGenerator {
  std::mt19937 Random{20240229};
  std::vector<std::string> Words = Vocabulary(20000, Random);
  TZipf Zipf{20000};
  std::vector<std::string> Names;
  std::int64_t Time = 1700000000000;

  TGenerator() {
    for (int i = 0; i < 50; ++i)
      Names.push_back("PC-" + Words[static_cast<std::size_t>(i) * 7].substr(0, 6) +
                      std::to_string(i));
  }
  TMessage Next() {
    TMessage m;
    m.timeMs = Time += 1000;
    std::uniform_int_distribution<std::size_t> name(0, Names.size() - 1), length(3, 25);
    m.sender = Names[name(Random)];
    m.receiver = Names[name(Random)];
    m.direction = Random() % 3 == 0 ? TDirection::Out : TDirection::In;
    m.delivery = m.direction == TDirection::Out ? TDelivery::Confirmed : TDelivery::Received;
    for (std::size_t n = length(Random); n > 0; --n) {
      if (!m.text.empty()) m.text += ' ';
      m.text += Words[Zipf(Random)];
    }
    return m;
  }
};

std::string TempStore() {
  std::string pattern = (fs::temp_directory_path() / "pling-history-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  return pattern;
}

std::unique_ptr<TStore> Fill(const std::string& path, TGenerator& generator, std::size_t count,
                             std::vector<std::string>* texts, std::uint64_t* rawBytes) {
  auto opened = TStore::Open(path);
  if (!opened) {
    std::fprintf(stderr, "%s\n", opened.Error().text.c_str());
    std::exit(1);
  }
  auto store = std::move(opened.Value().store);
  std::vector<TMessage> batch;
  const auto start = Clock::now();
  for (std::size_t i = 0; i < count; ++i) {
    batch.push_back(generator.Next());
    if (rawBytes)
      *rawBytes +=
          batch.back().sender.size() + batch.back().receiver.size() + batch.back().text.size();
    if (texts) texts->push_back(batch.back().text);
    if (batch.size() == 100 || i + 1 == count) {
      if (!store->Append(batch)) std::abort();
      batch.clear();
    }
    if ((i + 1) % 100000 == 0 && count > 100000) {
      std::fprintf(stderr, "  %zu messages, %.0f s\n", i + 1,
                   std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  std::printf("appended %zu messages in batches of 100: %.2f s (%.1f us a message)\n", count,
              std::chrono::duration<double>(Clock::now() - start).count(),
              Ms(Clock::now() - start) * 1000 / static_cast<double>(count));
  // The index catches up afterwards, in the steps the writer takes.
  const auto indexStart = Clock::now();
  double longest = 0;
  for (bool more = true; more;) {
    const auto step = Clock::now();
    auto indexed = store->IndexStep();
    if (!indexed) std::abort();
    more = indexed.Value();
    longest = std::max(longest, Ms(Clock::now() - step));
  }
  std::printf(
      "  indexed afterwards in steps of %zu: %.2f s (%.1f us a message), longest step %.1f ms\n",
      TStore::kIndexStep, std::chrono::duration<double>(Clock::now() - indexStart).count(),
      Ms(Clock::now() - indexStart) * 1000 / static_cast<double>(count), longest);
  return store;
}

struct TPercentiles {
  double P50, P99;
};

TPercentiles Percentiles(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const auto at = [&](double q) {
    return times[std::min(times.size() - 1,
                          static_cast<std::size_t>(q * static_cast<double>(times.size())))];
  };
  return {at(0.50), at(0.99)};
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t sizeCount = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  const std::string folder = TempStore();

  // Search in 100,000 messages (PLING_BENCH_NO_SEARCH: the size and prune alone).
  if (std::getenv("PLING_BENCH_NO_SEARCH") == nullptr) {
    TGenerator generator;
    std::vector<std::string> texts;
    auto store = Fill(folder + "/search.sqlite", generator, 100000, &texts, nullptr);
    std::mt19937 random(7);
    const int kRuns =
        std::getenv("PLING_BENCH_RUNS") ? std::atoi(std::getenv("PLING_BENCH_RUNS")) : 300;
    std::vector<double> anchor, word, prefix, sender;
    std::size_t wordHits = 0, prefixHits = 0, senderHits = 0;
    for (int run = 0; run < kRuns; ++run) {
      const std::string& w = generator.Words[generator.Zipf(random)];
      auto start = Clock::now();
      std::size_t found = 0;
      for (const std::string& text : texts)
        found += memmem(text.data(), text.size(), w.data(), w.size()) != nullptr;
      anchor.push_back(Ms(Clock::now() - start));
      if (found == static_cast<std::size_t>(-1)) std::abort();

      TQuery query;
      query.words = w;
      query.prefixLastWord = false;
      start = Clock::now();
      auto hits = store->Search(query);
      word.push_back(Ms(Clock::now() - start));
      if (!hits) std::abort();
      wordHits += hits.Value().size();

      // The first three letters (of a UTF-8 word: three characters).
      std::size_t cut = 0;
      for (int letters = 0; letters < 3 && cut < w.size(); ++letters) {
        ++cut;
        while (cut < w.size() && (static_cast<unsigned char>(w[cut]) & 0xC0) == 0x80) ++cut;
      }
      query.words = w.substr(0, cut);
      query.prefixLastWord = true;
      start = Clock::now();
      hits = store->Search(query);
      prefix.push_back(Ms(Clock::now() - start));
      if (!hits) std::abort();
      prefixHits += hits.Value().size();

      TQuery from;
      from.from = generator.Names[static_cast<std::size_t>(run) % generator.Names.size()];
      from.prefixLastWord = false;
      start = Clock::now();
      hits = store->Search(from);
      sender.push_back(Ms(Clock::now() - start));
      if (!hits) std::abort();
      senderHits += hits.Value().size();
    }
    const TPercentiles a = Percentiles(anchor);
    const auto report = [&](const char* kind, const std::vector<double>& times, std::size_t hits) {
      const TPercentiles p = Percentiles(times);
      std::printf(
          "search %-7s p50 %6.2f ms  p99 %6.2f ms  (targets 10 / 50 ms)  ratio to the anchor "
          "p50 %.2f  p99 %.2f  (%.0f hits a search)\n",
          kind, p.P50, p.P99, p.P50 / a.P50, p.P99 / a.P99, static_cast<double>(hits) / kRuns);
    };
    std::printf("anchor: one memmem scan of the 100,000 texts: p50 %.2f ms  p99 %.2f ms\n", a.P50,
                a.P99);
    report("word", word, wordHits);
    report("prefix", prefix, prefixHits);
    report("sender", sender, senderHits);

    // A search just after a burst: the messages the index has not taken yet go
    // into it first.
    for (const std::size_t tail : {std::size_t{100}, std::size_t{1000}, std::size_t{10000}}) {
      std::vector<TMessage> burst;
      for (std::size_t i = 0; i < tail; ++i) burst.push_back(generator.Next());
      if (!store->Append(burst)) std::abort();
      TQuery query;
      query.words = generator.Words[generator.Zipf(random)];
      const auto start = Clock::now();
      if (!store->Search(query)) std::abort();
      std::printf("search right after %5zu messages not yet indexed: %.1f ms\n", tail,
                  Ms(Clock::now() - start));
    }
  }

  // The size of many messages, and prune.
  if (sizeCount > 0) {
    TGenerator generator;
    std::uint64_t raw = 0;
    const std::string sizePath = folder + "/size.sqlite";
    // PLING_BENCH_SIZE_FILE: a file filled by an earlier run is pruned again
    // (a copy of it), or the one filled now is kept there.
    const char* kept = std::getenv("PLING_BENCH_SIZE_FILE");
    std::unique_ptr<TStore> store;
    if (kept != nullptr && fs::exists(kept)) {
      fs::copy_file(kept, sizePath);
      auto opened = TStore::Open(sizePath);
      if (!opened) std::abort();
      store = std::move(opened.Value().store);
      TQuery newest;
      newest.limit = 1;
      generator.Time = store->Search(newest).Value().at(0).message.timeMs;
      std::printf("size: a copy of %s, %lld messages, %.1f MB\n", kept,
                  static_cast<long long>(store->Count().Value()),
                  static_cast<double>(store->FileBytes()) / (1024 * 1024));
    } else {
      store = Fill(sizePath, generator, sizeCount, nullptr, &raw);
      // What the file holds once its -wal is written back.
      store->Prune(0, 0, 0).Value();
      const double mb = static_cast<double>(store->FileBytes()) / (1024 * 1024);
      std::printf(
          "size of %zu messages: %.1f MB (target for 1,000,000: 300 MB), ratio to the anchor "
          "%.2f; anchor: their names and texts, %.1f MB\n",
          sizeCount, mb, mb / (static_cast<double>(raw) / (1024 * 1024)),
          static_cast<double>(raw) / (1024 * 1024));
      if (kept != nullptr) fs::copy_file(sizePath, kept, fs::copy_options::overwrite_existing);
    }
    const std::uint64_t limit =
        (std::getenv("PLING_BENCH_LIMIT_MB")
             ? std::strtoull(std::getenv("PLING_BENCH_LIMIT_MB"), nullptr, 10)
             : 200ULL) *
        1024 * 1024;
    if (store->FileBytes() > limit) {
      // In the steps a receiving process takes, with a batch of 100 messages
      // stored after every tenth step (as batches come in meanwhile): the longest
      // step is the longest a batch waits.
      const auto start = Clock::now();
      TPruneRun run;
      run.maxBytes = limit;
      double longestStep = 0, longestBatch = 0;
      // The longest step of each kind, and how many there were.
      const char* const kKinds[] = {"by age", "index", "count", "delete", "merge", "shrink"};
      double longestOf[std::size(kKinds)] = {};
      std::size_t stepsOf[std::size(kKinds)] = {};
      std::size_t steps = 0, batches = 0;
      bool failed = false;
      while (!run.done && !failed) {
        std::size_t kind = 0;
        if (run.phase == TPruneRun::TPhase::Size) {
          kind = run.sizeDrop > 0 ? 3 : run.mergeIndex ? 4 : store->IndexBehind().Value() ? 1 : 2;
        } else if (run.phase == TPruneRun::TPhase::Shrink) {
          kind = 5;
        }
        const auto step = Clock::now();
        if (auto done = store->PruneStep(run); !done) {
          std::printf("prune failed: %s\n", done.Error().text.c_str());
          failed = true;
        }
        const double took = Ms(Clock::now() - step);
        longestStep = std::max(longestStep, took);
        longestOf[kind] = std::max(longestOf[kind], took);
        ++stepsOf[kind];
        if (std::getenv("PLING_BENCH_TRACE") && steps % 50 == 0)
          std::fprintf(stderr, "  step %zu: phase %d, %lld deleted, %.1f MB, %.1f s\n", steps,
                       static_cast<int>(run.phase), static_cast<long long>(run.result.deleted),
                       static_cast<double>(store->FileBytes()) / (1024 * 1024),
                       std::chrono::duration<double>(Clock::now() - start).count());
        if (++steps % 10 == 0) {
          std::vector<TMessage> batch;
          for (int i = 0; i < 100; ++i) batch.push_back(generator.Next());
          const auto append = Clock::now();
          if (!store->Append(batch)) std::abort();
          longestBatch = std::max(longestBatch, Ms(Clock::now() - append));
          ++batches;
        }
      }
      if (!failed) {
        std::printf(
            "prune to 200 MB: %lld messages deleted in %.1f s, %zu steps, longest step %.1f ms; "
            "%zu batches of 100 stored meanwhile, the longest in %.1f ms; the file has %.1f MB "
            "(%s the limit)\n",
            static_cast<long long>(run.result.deleted),
            std::chrono::duration<double>(Clock::now() - start).count(), steps, longestStep,
            batches, longestBatch, static_cast<double>(store->FileBytes()) / (1024 * 1024),
            store->FileBytes() <= limit ? "within" : "OVER");
        std::printf("  longest step of each kind (steps):");
        for (std::size_t k = 0; k < std::size(kKinds); ++k) {
          if (stepsOf[k] > 0)
            std::printf(" %s %.1f ms (%zu);", kKinds[k], longestOf[k], stepsOf[k]);
        }
        std::printf("\n");
      }
    }
  }
  std::error_code ignored;
  if (std::getenv("PLING_BENCH_KEEP") == nullptr) fs::remove_all(folder, ignored);
  return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Registry hive text: any bytes parse without harm; the written form parses to
// the same hive and writes the same text again, in the format it was read in
// (8-bit, or UTF-16LE with its mark), with every repaired line mended; setting a
// default value reads back and survives a rewrite.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hive_parser.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pling::platform;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::vector<TLineProblem> problems;
  THive hive = ParseHive(text, &problems);
  Check(hive == ParseHive(text));
  for (std::size_t i = 1; i < problems.size(); ++i) Check(problems[i - 1].line < problems[i].line);
  const std::string written = SerializeHive(hive);
  if (hive.encoding == THiveEncoding::kUtf16) {
    Check(written.rfind("\xFF\xFE", 0) == 0);
    Check(text.rfind("\xFF\xFE", 0) == 0);
  } else {
    Check(written.rfind(hive.signature + "\r\n\r\n", 0) == 0);
  }
  // A rewrite mends every line that was read with a repair; only lines that are
  // not understood at all (and are kept) are told again.
  std::vector<TLineProblem> left;
  const THive again = ParseHive(written, &left);
  for (const TLineProblem& problem : left)
    Check(problem.text.find("is not understood") != std::string::npos);
  Check(again == hive);
  Check(SerializeHive(again) == written);

  // Set a value on an existing key (or a new one) and read it back after a rewrite.
  std::string name = ClassesRootKeyName("Corvid\\Pling\\Settings\\Split");
  if (!hive.keys.empty() && size % 2 == 1) {
    auto it = hive.keys.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(size % hive.keys.size()));
    name = it->first;
  }
  const std::string value = "a\\b\"c" + std::to_string(size);
  SetHiveDefaultValue(AddHiveKey(hive, name), value);
  const THive reread = ParseHive(SerializeHive(hive));
  const THiveKey* key = FindHiveKey(reread, name);
  Check(key != nullptr && key->defaultValue == value);
  Check(HiveValueAsAnsi(reread, *key->defaultValue) == value);
  Check(reread == hive);
  return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The automatic add rule: a flood within the limits cannot fill the receivers
// list, and names nobody used do not pile up across restarts.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/AutoAddRule.h"

namespace pling::app {
namespace {

using namespace std::chrono_literals;
using TVerdict = TAutoAddRule::TVerdict;

TEST(AutoAddRuleTest, AddsAreBoundedPerMinuteAndPausedAfterAFlood) {
  TAutoAddRule rule;
  const TAutoAddRule::TClock::time_point t0{};
  int added = 0;
  for (int i = 0; i < 100; ++i) {
    added += rule.Admit("N" + std::to_string(i), false, i, 1000, t0 + i * 100ms) == TVerdict::Add;
  }
  EXPECT_EQ(added, kAutoAddsPerMinute);
  EXPECT_EQ(rule.Admit("LATER", false, 100, 1000, t0 + 61s), TVerdict::Add);
  EXPECT_EQ(rule.Admit("KNOWN", true, 100, 1000, t0 + 61s), TVerdict::NotNow);
  EXPECT_EQ(rule.Admit("FULL", false, 1000, 1000, t0 + 62s), TVerdict::ListFull);
  // A sender was limited: nobody is added for a while.
  rule.Limited(t0 + 120s);
  EXPECT_EQ(rule.Admit("FLOOD", false, 100, 1000, t0 + 150s), TVerdict::NotNow);
  EXPECT_EQ(rule.Admit("CALM", false, 100, 1000, t0 + 181s), TVerdict::Add);
}

TEST(AutoAddRuleTest, OnlyTheLastFiftyUnusedNamesAreStoredAndUsedOnesAlways) {
  TAutoAddRule rule;
  std::vector<std::pair<std::string, bool>> list{{"TYPED", false}, {"BACK", false}};
  rule.Restore("TYPED", '-');
  rule.Restore("BACK", '*');  // unused at the last exit: still the oldest unused
  TAutoAddRule::TClock::time_point at{};
  for (int i = 0; i < 60; ++i, at += 1min) {
    const std::string name = "A" + std::to_string(100 + i);
    ASSERT_EQ(rule.Admit(name, false, i, 1000, at), TVerdict::Add);
    list.emplace_back(name, false);
  }
  rule.Used("A100");      // selected once, since deselected
  list[3].second = true;  // A101 selected now
  const std::vector<std::string> stored = rule.Stored(list);
  ASSERT_EQ(stored.size(), 3u + 50u + 1u);
  EXPECT_EQ(stored[0], "TYPED-");
  EXPECT_EQ(stored[1], "A100-");
  EXPECT_EQ(stored[2], "A101+");
  // Of the 59 unused (BACK, A102..A159) the 50 added last: A110..A159.
  EXPECT_EQ(stored[3], "A110*");
  EXPECT_EQ(stored[51], "A158*");
  EXPECT_EQ(stored.back(), "");
}

}  // namespace
}  // namespace pling::app

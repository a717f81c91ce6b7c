// SPDX-License-Identifier: GPL-3.0-or-later
// The neighbourhood as the window sees it: the comment on the wire, and the
// reach of a receiver's name as machines come and go.
#include <gtest/gtest.h>

#include "platform/neighbourhood.h"

namespace pling::platform {
namespace {

TNeighbour Machine(const std::string& name, std::vector<std::string> people) {
  TNeighbour m;
  m.name = name;
  m.people = std::move(people);
  m.peopleKnown = true;
  return m;
}

TEST(NeighbourhoodViewTest, DefaultCommentGoesAsPlainTextCutToTheFrame) {
  EXPECT_EQ(CommentToOem(DefaultBrowseComment("alice")), "Pling - alice");
  EXPECT_EQ(CommentToOem("\x93quoted\x94\x85"), "\"quoted\"...");
  EXPECT_EQ(CommentToOem(std::string(60, 'x')).size(), 43u);
}

TEST(NeighbourhoodViewTest, ReachFollowsMachinesAndPeopleAsTheyComeAndGo) {
  TNeighbourhoodRead first;
  first.machines = {Machine("BOBPC", {"BOBPC", "BOB"}), Machine("CAROLPC", {})};
  TNeighbour group = Machine("WORKGROUP", {});
  group.workgroupEntry = true;
  first.machines.push_back(group);
  const auto one = MakeSnapshot(first, nullptr);
  EXPECT_EQ(one->Reach("bob"), TReach::Reachable);
  EXPECT_EQ(one->Reach("CarolPC"), TReach::Reachable);
  EXPECT_EQ(one->Reach("dave"), TReach::Unknown);
  EXPECT_EQ(one->Reach("workgroup"), TReach::Unknown);
  EXPECT_EQ(one->Names(), (std::vector<std::string>{"BOB", "BOBPC", "CAROLPC"}));

  // Bob's machine stops: he was heard before, so he is unreachable now.
  TNeighbourhoodRead second;
  second.machines = {Machine("CAROLPC", {"CAROL"})};
  const auto two = MakeSnapshot(second, one.get());
  EXPECT_EQ(two->Reach("BOB"), TReach::Unreachable);
  EXPECT_EQ(two->Reach("BOBPC"), TReach::Unreachable);
  EXPECT_EQ(two->Reach("carol"), TReach::Reachable);
  EXPECT_EQ(two->Reach("dave"), TReach::Unknown);
  // And back again.
  EXPECT_EQ(MakeSnapshot(first, two.get())->Reach("bob"), TReach::Reachable);
}

}  // namespace
}  // namespace pling::platform

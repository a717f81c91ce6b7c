// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/port_refusal.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace pling::net {
namespace {

// Every refused port is named once, grouped by protocol and by reason, in the
// sentence and in the few words; a barred port names the helper that may bind
// it where only a group may start that helper.
TEST(PortRefusalTest, EveryPortIsNamedOnceWithItsReason) {
  const std::vector<TPortRefusal> held{
      {true, 139, EADDRINUSE}, {false, 138, EADDRINUSE}, {false, 137, EADDRINUSE}};
  EXPECT_EQ(RefusalText(held),
            "another program (such as Samba) holds UDP ports 137 and 138, and TCP port 139.");
  EXPECT_EQ(RefusalBrief(held), "UDP 137 and 138, TCP 139 in use");

  const std::vector<TPortRefusal> mixed{
      {false, 137, EACCES}, {false, 138, EACCES}, {true, 139, EADDRINUSE}, {false, 140, EMFILE}};
  const std::string helper = "/usr/libexec/pling/pling-holder";
  EXPECT_EQ(RefusalText(mixed, helper),
            "another program (such as Samba's file server) holds TCP port 139; this program may "
            "not use UDP ports 137 and 138, and only members of the group \"pling\" may start " +
                helper +
                ", which may (see pling(1)); UDP port 140 cannot be opened (Too many "
                "open files).");
  EXPECT_NE(RefusalText(mixed).find("the service pling-holder"), std::string::npos);
  EXPECT_EQ(RefusalBrief(mixed), "UDP 137, 138 and 140, TCP 139 unavailable");
  EXPECT_EQ(RefusalBrief({{false, 137, EPERM}}), "UDP 137 not permitted");
}

}  // namespace
}  // namespace pling::net

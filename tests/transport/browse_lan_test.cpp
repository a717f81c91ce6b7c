// SPDX-License-Identifier: GPL-3.0-or-later
// The browse protocol on a private LAN of network namespaces (lan_fixture.h):
// Samba's nmbd hosts and two Pling hosts list each other (nmbd's browse list as
// its local master writes it, and `pling-cli who` on each Pling host), a changed
// comment is announced at once, and our announcements are browser frames tshark
// decodes with the right opcode, type and comment; a flood of fake machines from
// one host stays bounded (and shown escaped), and a host that stops leaves the
// list.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>

#include "lan_fixture.h"
#include "wait_until.h"

namespace pling::testing {
namespace {

// The lines of `text` that hold `part`.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(part) != std::string::npos) found.push_back(line);
  }
  return found;
}

class BrowseLanTest : public TLanTest {
 protected:
  bool Missing(const std::string& program) { return Shell("command -v " + program) != 0; }

  // nmbd on host `i` as NAME with `comment`, the local master or not, in a
  // session of its own (the fixture stops it by its process id).
  void StartNmbd(int i, const std::string& name, const std::string& comment, bool master) {
    const std::string dir = Dir() + "/nmbd-" + name;
    std::filesystem::create_directories(dir);
    const std::string yesNo = master ? "yes" : "no";
    std::ofstream(dir + "/smb.conf")
        << "[global]\n netbios name = " << name
        << "\n workgroup = LanTest\n server string = " << comment << "\n interfaces = " << Veth(i)
        << "\n bind interfaces only = yes\n"
        << " disable netbios = no\n local master = " << yesNo << "\n preferred master = " << yesNo
        << "\n domain master = no\n os level = " << (master ? 65 : 0)
        << "\n lock directory = " << dir << "\n state directory = " << dir
        << "\n cache directory = " << dir << "\n private dir = " << dir
        << "\n pid directory = " << dir << "\n log file = " << dir << "/log\n";
    RememberPidFile(dir + "/started.pid");
    Start(i, "nmbd" + std::to_string(i),
          "setsid --wait sh -c \"echo \\$\\$ >" + dir +
              "/started.pid && exec nmbd -F --no-process-group --debug-stdout -s " + dir +
              "/smb.conf\"");
  }

  // `pling-cli ARGS` on host `i` as `name`, to its end; its output ("" on failure).
  std::string Cli(int i, const std::string& name, const std::string& args) {
    std::string output;
    const int status = Run(i, name, TLanTest::Cli() + " " + args, 30s, &output);
    return status == 0 ? output : "";
  }
};

TEST_F(BrowseLanTest, SambaAndPlingHostsListEachOtherAndAChangedCommentIsAnnouncedAtOnce) {
  PLING_MAKE_LAN(4);
  if (Missing("nmbd") || Missing("tshark")) {
    GTEST_SKIP() << "nmbd or tshark (packages samba, tshark) missing; not run";
  }
  TChild capture("exec ip netns exec " + Bridge() +
                     " tshark -l -n -i br0 -f 'udp port 138' -Y browser -T fields"
                     " -E 'separator=;' -e ip.src -e browser.command -e browser.server"
                     " -e browser.server_type -e browser.comment -e _ws.malformed",
                 Dir() + "/capture");
  ASSERT_TRUE(capture.WaitForOutput("Capture started", 30s)) << capture.Output();
  // SAMBAONE becomes the local master by its own election timers.
  StartNmbd(1, "SAMBAONE", "First Samba", true);
  const auto nmbdStarted = std::chrono::steady_clock::now();
  StartNmbd(2, "SAMBATWO", "Second Samba", false);
  // Alice has a comment of her own; Bob announces the default one.
  ASSERT_EQ(Run(3, "alicepc", TLanTest::Cli() + " settings set Settings Comment \"At my desk\""),
            0);
  const std::string answerSoon = "env PLING_BROWSE_ANSWER_MS=200 ";
  TChild& alice = Start(3, "alicepc", answerSoon + TLanTest::Cli() + " listen");
  TChild& bob = Start(4, "bobpc", answerSoon + TLanTest::Cli() + " listen");
  ASSERT_TRUE(WaitForMessenger(alice.Pid()));
  ASSERT_TRUE(WaitForMessenger(bob.Pid()));

  // The Samba hosts are listed with their comments (nmbd answers the request
  // once it holds its names, a few seconds after it starts).
  std::string hosts;
  EXPECT_TRUE(WaitUntil(
      [&] {
        hosts = Cli(3, "alicepc", "hosts --seconds 0 --json");
        return hosts.find("\"SAMBAONE\"") != std::string::npos &&
               hosts.find("\"SAMBATWO\"") != std::string::npos;
      },
      60s, 100ms))
      << hosts;
  EXPECT_EQ(LinesWith(hosts, "\"name\":\"SAMBATWO\",\"address\":\"" + Address(2) +
                                 "\",\"workgroup\":\"LANTEST\""),
            std::vector<std::string>{LinesWith(hosts, "\"comment\":\"Second Samba\"")})
      << hosts;
  EXPECT_EQ(LinesWith(hosts, "\"comment\":\"First Samba\"").size(), 1u) << hosts;

  // The local master's browse list shows both with their comments, once it has
  // won its election and asked the workgroup to announce itself.
  const std::string browseList = Dir() + "/nmbd-SAMBAONE/browse.dat";
  std::string listed;
  EXPECT_TRUE(WaitUntil(
      [&] {
        listed = FileText(browseList);
        return LinesWith(listed, "\"ALICEPC\"").size() == 1 &&
               LinesWith(listed, "\"BOBPC\"").size() == 1;
      },
      100s, 200ms))
      << listed;
  std::cout << "nmbd's browse list showed both Pling hosts "
            << std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                                nmbdStarted)
                   .count()
            << " s after it started\n";
  const auto alicesLine = LinesWith(listed, "\"ALICEPC\"");
  ASSERT_EQ(alicesLine.size(), 1u) << listed;
  EXPECT_NE(alicesLine[0].find("\"At my desk\""), std::string::npos) << listed;
  EXPECT_NE(LinesWith(listed, "\"BOBPC\"")[0].find("\"Pling - bobpc\""), std::string::npos)
      << listed;

  // Each Pling host lists the other's messenger names and the Samba hosts' (by
  // then each machine has been heard again, its names asked again if they were lost).
  const auto lists = [&](int host, const std::string& name, const std::vector<std::string>& want,
                         std::string& who) {
    who = Cli(host, name, "who --seconds 0");
    return std::all_of(want.begin(), want.end(),
                       [&](const std::string& w) { return who.find(w) != std::string::npos; });
  };
  std::string who;
  const std::string sambaOne = "SAMBAONE\tSAMBAONE\t" + Address(1) + "\n";
  const std::string sambaTwo = "SAMBATWO\tSAMBATWO\t" + Address(2) + "\n";
  EXPECT_TRUE(WaitUntil(
      [&] {
        return lists(3, "alicepc", {"BOBPC\tBOBPC\t" + Address(4) + "\n", sambaOne, sambaTwo}, who);
      },
      30s, 100ms))
      << who << Cli(3, "alicepc", "hosts --seconds 0");
  EXPECT_TRUE(WaitUntil(
      [&] {
        return lists(4, "bobpc", {"ALICEPC\tALICEPC\t" + Address(3) + "\n", sambaOne, sambaTwo},
                     who);
      },
      30s, 100ms))
      << who << Cli(4, "bobpc", "hosts --seconds 0");

  // Alice changes her comment while her listener holds the ports: it is
  // announced at once, without a restart, and Bob shows it.
  ASSERT_EQ(Run(3, "alicepc", TLanTest::Cli() + " settings set Settings Comment \"Back at four\""),
            0);
  EXPECT_TRUE(WaitUntil(
      [&] {
        hosts = Cli(4, "bobpc", "hosts --seconds 0");
        return !LinesWith(hosts, "ALICEPC\t" + Address(3) + "\tLANTEST\t0x00000001\tBack at four")
                    .empty();
      },
      20s, 100ms))
      << hosts;

  // Bob stops: his last announcement has the type cleared, and he leaves
  // Alice's list at once.
  EXPECT_EQ(bob.Stop(), 0);
  EXPECT_TRUE(WaitUntil([&] {
    who = Cli(3, "alicepc", "who --seconds 0");
    return !who.empty() && who.find("BOBPC") == std::string::npos;
  })) << who;
  EXPECT_EQ(alice.Stop(), 0);
  const std::string bobs = Address(4) + ";0x01;BOBPC;";
  ASSERT_TRUE(capture.WaitForOutput(bobs + "0x00000000;")) << capture.Output();
  capture.Stop();
  const auto announced = LinesWith(capture.Output(), bobs + "0x00000001;Pling - bobpc;");
  EXPECT_FALSE(announced.empty()) << capture.Output();
  EXPECT_FALSE(
      LinesWith(capture.Output(), Address(3) + ";0x01;ALICEPC;0x00000001;Back at four;").empty())
      << capture.Output();
  EXPECT_TRUE(LinesWith(capture.Output(), Address(3) + ";0x02;").size() >= 1u) << capture.Output();
}

TEST_F(BrowseLanTest, TwoPlingHostsSeeEachOtherAFloodStaysBoundedAndAStoppedHostLeaves) {
  PLING_MAKE_LAN(3);
  if (Missing("python3")) GTEST_SKIP() << "python3 missing; not run";
  const std::string answerSoon = "env PLING_BROWSE_ANSWER_MS=200 ";
  TChild& alice = Start(1, "alicepc", answerSoon + TLanTest::Cli() + " listen");
  ASSERT_TRUE(WaitForMessenger(alice.Pid()));
  TChild& bob = Start(2, "bobpc", answerSoon + TLanTest::Cli() + " listen");
  ASSERT_TRUE(WaitForMessenger(bob.Pid()));

  // Each lists the other's messenger names (read from the listening process).
  std::string who;
  EXPECT_TRUE(WaitUntil([&] {
    who = Cli(1, "alicepc", "who --seconds 0");
    return who.find("BOBPC\tBOBPC\t" + Address(2)) != std::string::npos;
  })) << who;
  EXPECT_TRUE(WaitUntil([&] {
    who = Cli(2, "bobpc", "who --seconds 0 --json");
    return who.find("{\"name\":\"ALICEPC\",\"machine\":\"ALICEPC\",\"address\":\"" + Address(1) +
                    "\"}") != std::string::npos;
  })) << who;

  // A flood of fake machines from host 3 leaves a few of them, escaped.
  const std::string flood = std::string(PLING_TRANSPORT_SCRIPTS) + "/browse_flood.py";
  ASSERT_EQ(Run(3, "mallory",
                "python3 " + flood + " " + BroadcastAddress() + " " + Address(3) + " LANTEST 3000"),
            0);
  std::string hosts;
  EXPECT_TRUE(WaitUntil([&] {
    hosts = Cli(1, "alicepc", "hosts --seconds 0");
    return !LinesWith(hosts, "\t" + Address(3) + "\t").empty();
  })) << hosts;
  const auto fakes = LinesWith(hosts, "\t" + Address(3) + "\t");
  EXPECT_LE(fakes.size(), 8u) << hosts;
  for (const std::string& line : fakes) {
    EXPECT_NE(line.find("fake \\x1B[31m\\x07"), std::string::npos) << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  }
  EXPECT_EQ(LinesWith(hosts, "BOBPC\t" + Address(2)).size(), 1u) << hosts;

  // Bob stops: he leaves Alice's list at once.
  EXPECT_EQ(bob.Stop(), 0);
  EXPECT_TRUE(WaitUntil([&] {
    hosts = Cli(1, "alicepc", "hosts --seconds 0");
    return !hosts.empty() && LinesWith(hosts, "BOBPC").empty();
  })) << hosts;
  EXPECT_EQ(alice.Stop(), 0);
}

}  // namespace
}  // namespace pling::testing

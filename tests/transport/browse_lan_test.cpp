// SPDX-License-Identifier: GPL-3.0-or-later
// The browse protocol on a private LAN of network namespaces (lan_fixture.h):
// Samba's nmbd hosts are listed with their comments, and our announcement is a
// browser frame tshark decodes with the right opcode, type and comment; two
// Pling hosts see each other's people, a flood of fake machines from one host
// stays bounded (and shown escaped), and a host that stops leaves the list.
#include <filesystem>
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

TEST_F(BrowseLanTest, SambaHostsAreListedWithCommentsAndOurAnnouncementDecodes) {
  PLING_MAKE_LAN(3);
  if (Missing("nmbd") || Missing("tshark")) {
    GTEST_SKIP() << "nmbd or tshark (packages samba, tshark) missing; not run";
  }
  TChild capture("exec ip netns exec " + Bridge() +
                     " tshark -l -n -i br0 -f 'udp port 138' -Y browser -T fields"
                     " -E 'separator=;' -e ip.src -e browser.command -e browser.server"
                     " -e browser.server_type -e browser.comment -e _ws.malformed",
                 Dir() + "/capture");
  ASSERT_TRUE(capture.WaitForOutput("Capture started", 30s)) << capture.Output();
  StartNmbd(1, "SAMBAONE", "First Samba", true);
  StartNmbd(2, "SAMBATWO", "Second Samba", false);

  // nmbd answers the request once it holds its names (a few seconds after it starts).
  std::string hosts;
  EXPECT_TRUE(WaitUntil(
      [&] {
        hosts = Cli(3, "carol", "hosts --seconds 2 --json");
        return hosts.find("\"SAMBAONE\"") != std::string::npos &&
               hosts.find("\"SAMBATWO\"") != std::string::npos;
      },
      60s, 0ms))
      << hosts;
  EXPECT_EQ(LinesWith(hosts, "\"name\":\"SAMBATWO\",\"address\":\"" + Address(2) +
                                 "\",\"workgroup\":\"LANTEST\""),
            std::vector<std::string>{LinesWith(hosts, "\"comment\":\"Second Samba\"")})
      << hosts;
  EXPECT_EQ(LinesWith(hosts, "\"comment\":\"First Samba\"").size(), 1u) << hosts;

  // Our announcement: a HostAnnouncement (1) of a workstation with our comment,
  // then the last one, with the type cleared, when the command ended.
  const std::string ours = Address(3) + ";0x01;CAROL;";
  ASSERT_TRUE(capture.WaitForOutput(ours + "0x00000000;")) << capture.Output();
  capture.Stop();
  const auto announced = LinesWith(capture.Output(), ours + "0x00000001;Pling ");
  ASSERT_FALSE(announced.empty()) << capture.Output();
  EXPECT_NE(announced[0].find(" carol;"), std::string::npos) << announced[0];
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

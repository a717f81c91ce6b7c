// SPDX-License-Identifier: GPL-3.0-or-later
// This machine's names on a private LAN of network namespaces (lan_fixture.h),
// with Samba's nmbd as the other side: a second host of the same name is told
// and gets nothing meant for the first, nmbd cannot take our name, the capture
// shows the claims and releases; and across a router, with nmbd as the WINS
// server, names are registered, found, refused and released there.
#include <string>

#include "lan_fixture.h"

namespace pling::testing {
namespace {

// The lines of `text` that hold every one of `parts`.
std::vector<std::string> Lines(const std::string& text, const std::vector<std::string>& parts) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    bool all = true;
    for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
    if (all) found.push_back(line);
  }
  return found;
}

// A packet as the capture below shows it: source, destination, flags and names.
std::string Packet(const std::string& from, const std::string& to, const std::string& flags,
                   const std::string& name) {
  return from + ";" + to + ";" + flags + ";" + name;
}

class NamesLanTest : public TLanTest {
 protected:
  void SkipWithout(const std::string& programs) {
    for (std::istringstream words(programs); !words.eof();) {
      std::string program;
      words >> program;
      if (!program.empty() && Shell("command -v " + program) != 0) {
        GTEST_SKIP() << program << " (packages samba, samba-common-bin, tshark) missing; not run";
      }
    }
  }

  // nmbd on host `i` with the given [global] lines, logging what it does, in a
  // session of its own; stopped by its process id (StopNmbd, or by the fixture at
  // the end, with whatever it forked).
  TChild& StartNmbd(int i, const std::string& name, const std::string& settings) {
    const std::string dir = Dir() + "/nmbd-" + name;
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/smb.conf")
        << "[global]\n netbios name = " << name << "\n workgroup = LANTEST\n"
        << settings << " bind interfaces only = yes\n disable netbios = no\n"
        << " local master = no\n preferred master = no\n domain master = no\n os level = 0\n"
        << " lock directory = " << dir << "\n state directory = " << dir
        << "\n cache directory = " << dir << "\n private dir = " << dir
        << "\n pid directory = " << dir << "\n log file = " << dir << "/log\n";
    FNmbdPids.push_back(dir + "/started.pid");
    RememberPidFile(FNmbdPids.back());
    return Start(i, Lowercase(name),
                 "setsid --wait sh -c \"echo \\$\\$ >" + FNmbdPids.back() +
                     " && exec nmbd -F --no-process-group --debug-stdout -d 2 -s " + dir +
                     "/smb.conf\"");
  }

  // Ends the nmbd started `n`-th (from 0) and waits for it.
  void StopNmbd(std::size_t n, TChild& nmbd) {
    KillNmbd(FNmbdPids.at(n), SIGTERM);
    nmbd.Wait(10s);
  }

  static std::string Lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }

  // `pling-cli listen` that claims its names with the usual 250 ms between the
  // broadcasts, and `extra` in its environment.
  TChild& Listen(int i, const std::string& name, const std::string& extra = "") {
    return Start(i, name, "env PLING_NAME_RETRY_MS=250 " + extra + " " + Cli() + " listen");
  }

  // Two subnets joined by a router (host 1) that runs nmbd as the WINS server:
  // ALICE (host 2) and a second DAVE (host 4) on the first, DAVE (host 3) on the
  // second.
  void MakeRoutedLan() {
    MakeLan(4);
    if (IsSkipped() || HasFatalFailure()) return;
    FOtherBridge = Bridge() + "b";
    RememberNamespace(FOtherBridge);
    const std::string router = "pr" + Bridge().substr(4);
    const std::string script =
        "set -e; ip netns add " + FOtherBridge + "; ip -n " + FOtherBridge +
        " link add br0 type bridge; ip -n " + FOtherBridge +
        " link set br0 up;"
        // DAVE moves to the second subnet.
        "ip -n " +
        Host(3) + " link del " + Veth(3) + "; ip link add " + Veth(3) + " netns " + Host(3) +
        " type veth peer name q3 netns " + FOtherBridge + "; ip -n " + FOtherBridge +
        " link set q3 master br0 up; ip -n " + Host(3) + " addr add " + OtherAddress(3) +
        "/24 brd + dev " + Veth(3) + "; ip -n " + Host(3) + " link set " + Veth(3) +
        " up;"
        // The router gets a leg in it, and forwards.
        "ip link add " +
        router + " netns " + Host(1) + " type veth peer name q1 netns " + FOtherBridge +
        "; ip -n " + FOtherBridge + " link set q1 master br0 up; ip -n " + Host(1) + " addr add " +
        OtherAddress(1) + "/24 brd + dev " + router + "; ip -n " + Host(1) + " link set " + router +
        " up; ip netns exec " + Host(1) +
        " sysctl -qw net.ipv4.ip_forward=1;"
        "ip -n " +
        Host(2) + " route add default via " + Address(1) + "; ip -n " + Host(4) +
        " route add default via " + Address(1) + "; ip -n " + Host(3) + " route add default via " +
        OtherAddress(1);
    if (Shell(script) != 0) GTEST_SKIP() << "cannot set up the second subnet; not run";
  }

  std::string OtherAddress(int i) const {
    return "10.96." + Bridge().substr(4) + "." + std::to_string(i);
  }

 private:
  // Signals the nmbd whose process id `file` holds, if that process is still an
  // nmbd, and forgets it.
  static void KillNmbd(const std::string& file, int signal) {
    const std::string pid = FileText(file);
    if (pid.empty()) return;
    if (FileText("/proc/" + std::to_string(std::stoi(pid)) + "/comm") == "nmbd\n") {
      kill(std::stoi(pid), signal);
    }
    std::filesystem::remove(file);
  }

 private:
  std::vector<std::string> FNmbdPids;  // files that hold their process ids
  std::string FOtherBridge;            // the routed LAN's second subnet
};

TEST_F(NamesLanTest, ASecondHostOfTheSameNameIsToldAndSambaCannotTakeItEither) {
  PLING_MAKE_LAN(4);
  SkipWithout("tshark nmbd nmblookup");
  // The name service on the bridge, one line a packet, fields apart by ';'.
  TChild capture("exec ip netns exec " + Bridge() +
                     " tshark -l -n -i br0 -f 'udp port 137' -T fields -E 'separator=;'"
                     " -e ip.src -e ip.dst -e nbns.flags -e nbns.name -e _ws.malformed"
                     " -e _ws.expert.message",
                 Dir() + "/capture");
  ASSERT_TRUE(capture.WaitForOutput("Capture started", 30s)) << capture.Output();

  TChild& first = Listen(2, "bob");
  ASSERT_TRUE(WaitForMessenger(first.Pid()));
  // Taken once nobody objected: the overwrite demand says so.
  ASSERT_TRUE(capture.WaitForOutput(Packet(Address(2), BroadcastAddress(), "0x2810", "BOB<03>")))
      << capture.Output();
  TChild& second = Listen(3, "bob");
  ASSERT_TRUE(second.WaitForOutput(" not this one.\n")) << second.Output();

  // Every write to BOB reaches the first BOB, and the second gets none.
  std::string output;
  EXPECT_EQ(Run(1, "alice",
                "sh -c \"for i in 1 2 3 4 5 6 7 8 9 10; do " + Cli() +
                    " send bob number \\$i || exit 1; done\"",
                60s, &output),
            0)
      << output;
  EXPECT_TRUE(first.WaitForOutput("ALICE to bob : number 10\n")) << first.Output();

  // Samba claims the name too, and is refused.
  TChild& samba = StartNmbd(4, "BOB", " interfaces = " + Address(4) + "/24\n");
  EXPECT_TRUE(samba.WaitForOutput("Failed to register my name BOB<03>", 30s)) << samba.Output();
  EXPECT_EQ(Run(1, "alice", "nmblookup -B " + BroadcastAddress() + " BOB#03", 10s, &output), 0);
  EXPECT_EQ(Lines(output, {" BOB<03>"}), std::vector<std::string>{Address(2) + " BOB<03>"})
      << output;
  StopNmbd(0, samba);
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob after samba", 10s, &output), 0) << output;
  EXPECT_TRUE(first.WaitForOutput("ALICE to bob : after samba\n"));

  EXPECT_EQ(first.Stop(), 0);
  EXPECT_EQ(second.Stop(), 0);
  // Released at exit.
  EXPECT_TRUE(capture.WaitForOutput(Packet(Address(2), BroadcastAddress(), "0x3010", "BOB<03>")))
      << capture.Output();
  capture.Stop();

  // The second BOB was told once, in plain words, who holds the name, and got
  // nothing; the first was never told anything.
  EXPECT_EQ(second.Output(), "pling-cli: Another computer (" + Address(2) +
                                 ") already holds the name BOB on the network; messages to BOB "
                                 "reach that computer, not this one.\n");
  std::string received = first.Output();
  for (int i = 1; i <= 10; ++i) {
    EXPECT_EQ(Count(received, "ALICE to bob : number " + std::to_string(i) + "\n"), 1u) << i;
  }
  EXPECT_EQ(Count(received, "pling-cli:"), 0u) << received;

  // On the wire: the first BOB's three claims, its refusals to the second one
  // and to Samba, and nothing tshark finds fault with.
  const std::string packets = capture.Output();
  EXPECT_EQ(Lines(packets, {Packet(Address(2), BroadcastAddress(), "0x2910", "BOB<03>")}).size(),
            3u)
      << packets;
  EXPECT_FALSE(Lines(packets, {Packet(Address(2), Address(3), "0xad86", "BOB<03>")}).empty())
      << packets;
  EXPECT_FALSE(Lines(packets, {Packet(Address(2), Address(4), "0xad86", "BOB<03>")}).empty())
      << packets;
  // The second never took the name, so it never released it.
  EXPECT_TRUE(Lines(packets, {Address(3) + ";", ";0x3010;BOB<03>"}).empty()) << packets;
  for (const std::string& line : Lines(packets, {";0x"})) {
    // The last two fields: tshark's complaints, if any.
    EXPECT_EQ(line.substr(line.size() - 2), ";;") << line;
  }
}

// A login with a dot is a NetBIOS name like any other; and what anyone may send
// (a name conflict demand, a release of the name) takes it from nobody.
TEST_F(NamesLanTest, ADottedLoginIsReachedAndForgedPacketsTakeNoNameAway) {
  PLING_MAKE_LAN(3);
  SkipWithout("nmblookup");
  TChild& john = Start(2, "john.doe", Cli() + " listen");
  ASSERT_TRUE(WaitForMessenger(john.Pid()));
  const std::string lookup = "nmblookup -B " + BroadcastAddress() + " JOHN.DOE#03";
  std::string output;
  bool held = false;
  for (int i = 0; i < 100 && !held; ++i) {
    Run(1, "alice", lookup, 10s, &output);
    held = output.find(Address(2) + " JOHN.DOE<03>") != std::string::npos;
    if (!held) std::this_thread::sleep_for(50ms);
  }
  ASSERT_TRUE(held) << output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send john.doe first", 10s, &output), 0) << output;
  ASSERT_TRUE(john.WaitForOutput("ALICE to john.doe : first\n")) << john.Output();

  // Eve tells the subnet and John himself that JOHN.DOE<03> is held twice, and
  // releases it in his name.
  const std::string forge = R"PY(
import socket, struct, sys
john, bcast = sys.argv[1], sys.argv[2]
def name(n, suffix):
    raw = n.ljust(15).encode()[:15] + bytes([suffix])
    return b'\x20' + bytes(c for b in raw for c in (0x41 + (b >> 4), 0x41 + (b & 15))) + b'\x00'
entry = struct.pack('>HHIH', 0x20, 1, 0, 6)
demand = struct.pack('>HHHHHH', 0x1234, 0xAD87, 0, 1, 0, 0) + name('JOHN.DOE', 3) + entry + bytes(6)
release = (struct.pack('>HHHHHH', 0x4321, 0x3010, 1, 0, 0, 1) + name('JOHN.DOE', 3) +
           struct.pack('>HH', 0x20, 1) + b'\xc0\x0c' + entry + b'\x00\x00' + socket.inet_aton(john))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.bind(('', 137))
for to in (john, bcast):
    for packet in (demand, release):
        s.sendto(packet, (to, 137))
)PY";
  std::ofstream(Dir() + "/forge.py") << forge;
  EXPECT_EQ(Run(3, "eve", "python3 " + Dir() + "/forge.py " + Address(2) + " " + BroadcastAddress(),
                10s, &output),
            0)
      << output;
  // Queries wait behind the forged packets on John's port: his answer shows they
  // were read.
  EXPECT_EQ(Run(1, "alice", lookup, 10s, &output), 0);
  EXPECT_NE(output.find(Address(2) + " JOHN.DOE<03>"), std::string::npos) << output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send john.doe after the forgery", 10s, &output), 0) << output;
  EXPECT_TRUE(john.WaitForOutput("ALICE to john.doe : after the forgery\n")) << john.Output();
  john.Stop();
  EXPECT_EQ(Count(john.Output(), "pling-cli:"), 0u) << john.Output();
}

// An address set without a broadcast address (as VPNs and containers set them)
// still finds names and reaches the workgroup by the subnet's broadcast address.
TEST_F(NamesLanTest, AnAddressWithoutABroadcastAddressFindsNamesAndReachesTheWorkgroup) {
  PLING_MAKE_LAN(2);
  ASSERT_EQ(Shell("ip -n " + Host(1) + " addr del " + Address(1) + "/24 dev " + Veth(1) +
                  " && ip -n " + Host(1) + " addr add " + Address(1) + "/24 dev " + Veth(1)),
            0);
  TChild& bob = Start(2, "bob", Cli() + " listen");
  ASSERT_TRUE(WaitForMessenger(bob.Pid()));
  std::string output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob by name", 10s, &output), 0) << output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send \"*\" to all", 10s, &output), 0) << output;
  EXPECT_TRUE(bob.WaitForOutput("ALICE to * : to all\n")) << bob.Output();
  bob.Stop();
  EXPECT_EQ(bob.Output(), "ALICE to bob : by name\nALICE to * : to all\n");
}

TEST_F(NamesLanTest, NamesAreRegisteredFoundRefusedAndReleasedAcrossTheRouter) {
  MakeRoutedLan();
  if (IsSkipped() || HasFatalFailure()) return;
  SkipWithout("nmbd nmblookup");
  TChild& server = StartNmbd(
      1, "ROUTER",
      " interfaces = " + Address(1) + "/24 " + OtherAddress(1) + "/24\n wins support = yes\n");
  ASSERT_TRUE(WaitForTable(server.Pid(), "udp", ":0089 ")) << server.Output();
  const std::string lookup = "nmblookup -U " + Address(1) + " --recursion DAVE#03";

  // DAVE is told the server by the environment, and registers with it.
  TChild& dave = Listen(3, "dave", "PLING_WINS_SERVER=" + OtherAddress(1));
  ASSERT_TRUE(WaitForMessenger(dave.Pid()));
  std::string output;
  bool listed = false;
  for (int i = 0; i < 50 && !listed; ++i) {
    Run(2, "alice", lookup, 10s, &output);
    listed = output.find(OtherAddress(3) + " DAVE<03>") != std::string::npos;
    if (!listed) std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(listed) << output << server.Output();

  // ALICE by the setting: her write to DAVE crosses the router.
  const std::string config = "XDG_CONFIG_HOME=" + Dir() + "/alice-config ";
  ASSERT_EQ(Shell(config + Cli() + " settings set Settings WinsServer " + Address(1)), 0);
  EXPECT_EQ(Run(2, "alice", "env " + config + Cli() + " send dave across the router", 10s, &output),
            0)
      << output;
  EXPECT_TRUE(dave.WaitForOutput("ALICE to dave : across the router\n")) << dave.Output();
  // A second DAVE, told the server by its Samba configuration, is refused by it.
  std::ofstream(Dir() + "/smb-wins.conf")
      << "[global]\n workgroup = LanTest\n wins server = " << Address(1) << "\n";
  TChild& second = Listen(4, "dave", "PLING_SMB_CONF=" + Dir() + "/smb-wins.conf");
  EXPECT_TRUE(second.WaitForOutput(" not this one.\n", 30s)) << second.Output();
  EXPECT_EQ(second.Output(), "pling-cli: The WINS server " + Address(1) +
                                 " refused the name DAVE, which another computer (" +
                                 OtherAddress(3) +
                                 ") holds; messages to DAVE reach that computer, not this one.\n");

  // DAVE leaves: the server forgets him, and a write to him fails plainly.
  EXPECT_EQ(dave.Stop(), 0);
  EXPECT_NE(Run(2, "alice", lookup, 10s, &output), 0) << output;
  EXPECT_NE(output.find("name_query failed to find name DAVE#03"), std::string::npos) << output;
  EXPECT_EQ(Run(2, "alice", "env " + config + Cli() + " send dave gone", 10s, &output), 1);
  EXPECT_NE(output.find("no machine of that name answers on the network"), std::string::npos)
      << output;
  EXPECT_EQ(dave.Output(), "ALICE to dave : across the router\n");
  second.Stop();
}

}  // namespace
}  // namespace pling::testing

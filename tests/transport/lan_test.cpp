// SPDX-License-Identifier: GPL-3.0-or-later
// pling-cli and the mailslot service between hosts on a private LAN of network
// namespaces (see lan_fixture.h): names found by query, unicast and workgroup
// writes, the port holder and its hand-over, hostile packets, the independent
// NetBIOS peers, and the switch.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "lan_fixture.h"

namespace pling::testing {
namespace {

class LanTest : public TLanTest {};

TEST_F(LanTest, DirectWriteFindsTheHostByNameAndReachesOnlyIt) {
  PLING_MAKE_LAN(3);
  TChild& bob = Listen(2, "bob");
  TChild& carol = Listen(3, "carol");
  ASSERT_TRUE(bob.WaitForReachable() && carol.WaitForReachable());

  std::string output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob Hello Bob", 10s, &output), 0) << output;
  // An unknown name is not found: the write fails instead of vanishing.
  EXPECT_EQ(Run(1, "alice", Cli() + " send nobody Hello", 10s, &output), 1) << output;
  EXPECT_TRUE(bob.WaitForOutput("Hello Bob\n"));
  std::this_thread::sleep_for(300ms);
  bob.Stop();
  carol.Stop();
  EXPECT_EQ(bob.Output(), "ALICE to bob : Hello Bob\n");
  EXPECT_EQ(carol.Output(), "");
}

TEST_F(LanTest, WriteToAnAddressGoesToANameTheHostThereHolds) {
  PLING_MAKE_LAN(2);
  TChild& bob = Listen(2, "bob");
  ASSERT_TRUE(bob.WaitForReachable());
  std::string output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send " + Address(2) + " hello by address", 10s, &output), 0)
      << output;
  EXPECT_TRUE(bob.WaitForOutput(" : hello by address\n"));
  // Nobody at the address answers: the write fails instead of vanishing.
  EXPECT_EQ(Run(1, "alice", Cli() + " send " + Address(3) + " to nobody", 10s, &output), 1)
      << output;
  if (Shell("command -v nmblookup") == 0) {
    // Another implementation's status lookup reads the names our holder lists.
    EXPECT_EQ(Run(1, "alice", "nmblookup -A " + Address(2), 10s, &output), 0) << output;
    EXPECT_NE(output.find("BOB             <03>"), std::string::npos) << output;
    EXPECT_NE(output.find("LANTEST         <00> - <GROUP>"), std::string::npos) << output;
  } else {
    std::cout << "nmblookup (package samba-common-bin) missing; its status lookup not run\n";
  }
  bob.Stop();
  EXPECT_EQ(bob.Output(), "ALICE to " + Address(2) + " : hello by address\n");

  // A process that holds the ports asks from them, and the answer reaches it there.
  TChild& receiver = Start(2, "bob", TestBinDir() + "/mailslot_holder messngr");
  ASSERT_TRUE(WaitForMessenger(receiver.Pid()));
  TChild& writer =
      Start(1, "alice", TestBinDir() + "/mailslot_holder other " + Address(2) + " Hi!");
  EXPECT_TRUE(writer.WaitForOutput("sent: "));
  EXPECT_NE(writer.Output().find("sent: yes"), std::string::npos) << writer.Output();
  EXPECT_TRUE(receiver.WaitForOutput("message: Hi!\n")) << receiver.Output();
}

TEST_F(LanTest, ASendRightAfterTheReceiverStartedArrivesOnceItsNamesAreClaimed) {
  PLING_MAKE_LAN(2);
  // The usual 250 ms between the claim's broadcasts: BOB answers for no name for
  // about 0.75 s after its ports are bound, and lists none when asked for them.
  TChild& bob = Listen(2, "bob", "", "PLING_NAME_RETRY_MS=250");
  ASSERT_TRUE(WaitForMessenger(bob.Pid()));
  std::string output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send " + Address(2) + " by address", 10s, &output), 0)
      << output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob by name", 10s, &output), 0) << output;
  EXPECT_TRUE(bob.WaitForOutput(" : by address\n") && bob.WaitForOutput("ALICE to bob : by name\n"))
      << bob.Output() << bob.Errors();
  // And it said when it could be reached.
  EXPECT_TRUE(bob.WaitForReachable()) << bob.Errors();
}

TEST_F(LanTest, WorkgroupWriteReachesEveryHostAndTheWriterOnce) {
  PLING_MAKE_LAN(3);
  TChild& alice = Listen(1, "alice");
  TChild& bob = Listen(2, "bob");
  TChild& carol = Listen(3, "carol");
  for (TChild* host : {&alice, &bob, &carol}) ASSERT_TRUE(host->WaitForReachable());

  EXPECT_EQ(Run(1, "alice", Cli() + " send \"*\" to all"), 0);
  // The workgroup by its own name, and another one that none of them is in.
  EXPECT_EQ(Run(2, "bob", Cli() + " send --machine LANTEST\\* all by name"), 0);
  EXPECT_EQ(Run(3, "carol", Cli() + " send --machine OTHERS\\* all other group"), 0);
  for (TChild* host : {&alice, &bob, &carol}) {
    EXPECT_TRUE(host->WaitForOutput(" : to all\n") && host->WaitForOutput(" : by name\n"));
  }
  // Time for a second copy, or the other group's write, to show.
  std::this_thread::sleep_for(300ms);
  for (TChild* host : {&alice, &bob, &carol}) {
    host->Stop();
    const std::string output = host->Output();
    EXPECT_EQ(Count(output, "ALICE to * : to all\n"), 1u) << output;
    EXPECT_EQ(Count(output, " : by name\n"), 1u) << output;
    EXPECT_EQ(Count(output, "other group"), 0u) << output;
  }
}

TEST_F(LanTest, BothDirectionsAtOnce) {
  PLING_MAKE_LAN(2);
  constexpr int kMessages = 15;
  TChild& alice = Listen(1, "alice");
  TChild& bob = Listen(2, "bob");
  ASSERT_TRUE(alice.WaitForReachable() && bob.WaitForReachable());
  const auto loop = [&](const std::string& to) {
    return "sh -c \"for i in \\$(seq 1 " + std::to_string(kMessages) + "); do " + Cli() + " send " +
           to + " number \\$i || exit 1; done\"";
  };
  TChild& fromAlice = Start(1, "alice", loop("bob"));
  TChild& fromBob = Start(2, "bob", loop("alice"));
  EXPECT_EQ(fromAlice.Wait(60s), 0) << fromAlice.Output();
  EXPECT_EQ(fromBob.Wait(60s), 0) << fromBob.Output();
  const std::string last = " : number " + std::to_string(kMessages) + "\n";
  EXPECT_TRUE(alice.WaitForOutput(last) && bob.WaitForOutput(last));
  std::this_thread::sleep_for(300ms);
  alice.Stop();
  bob.Stop();
  for (int i = 1; i <= kMessages; ++i) {
    EXPECT_EQ(Count(bob.Output(), "ALICE to bob : number " + std::to_string(i) + "\n"), 1u);
    EXPECT_EQ(Count(alice.Output(), "BOB to alice : number " + std::to_string(i) + "\n"), 1u);
  }
}

TEST_F(LanTest, SecondProcessReceivesThroughTheHolderAndTakesOverWhenItEnds) {
  PLING_MAKE_LAN(2);
  // The first process to open a mailslot on BOB holds the ports.
  TChild& holder = Start(2, "bob", TestBinDir() + "/mailslot_holder other");
  ASSERT_TRUE(WaitForTable(holder.Pid(), "unix", "@mailslot\\OTHER"));
  ASSERT_TRUE(WaitForTable(holder.Pid(), "udp", ":008A "));
  TChild& listener = Listen(2, "bob");
  ASSERT_TRUE(listener.WaitForReachable());

  EXPECT_EQ(Run(1, "alice", Cli() + " send bob through the holder"), 0);
  EXPECT_TRUE(listener.WaitForOutput("through the holder\n"));
  EXPECT_EQ(holder.Stop(), 0);
  // The listener takes the ports over without being told.
  bool held = false;
  for (int i = 0; i < 200 && !held; ++i) {
    std::this_thread::sleep_for(20ms);
    held = PortsHeld(listener.Pid());
  }
  ASSERT_TRUE(held);
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob after the hand-over"), 0);
  EXPECT_TRUE(listener.WaitForOutput("after the hand-over\n"));
  listener.Stop();
  EXPECT_EQ(listener.Output(),
            "ALICE to bob : through the holder\nALICE to bob : after the hand-over\n");
}

// A process that has bound the holder's name in the way: with its queue full, not
// listening yet (a hand-over under way), or closing every waiter at once.
constexpr const char* kHolderSquatter = R"PY(
import socket, sys, time
mode, name = sys.argv[1], b'\0pling\\netbios-holder'
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.bind(name)
if mode == 'full':
    s.listen(0)
    pending = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    pending.connect(name)
elif mode == 'turnaway':
    s.listen(64)
print('bound', flush=True)
if mode == 'turnaway':
    s.accept()[0].close()
    count, end = 1, time.time() + 2
    s.settimeout(0.1)
    while time.time() < end:
        try:
            s.accept()[0].close()
            count += 1
        except socket.timeout:
            pass
    print('turned away', count, flush=True)
time.sleep(60)
)PY";

TEST_F(LanTest, AHolderInTheWayHoldsUpNoOpeningAndIsTakenOverWhenItGoes) {
  PLING_MAKE_LAN(2);
  std::ofstream(Dir() + "/squatter.py") << kHolderSquatter;
  for (const std::string mode : {"full", "unlistened", "turnaway"}) {
    SCOPED_TRACE(mode);
    TChild& squatter = Start(2, "bob", "python3 " + Dir() + "/squatter.py " + mode);
    ASSERT_TRUE(squatter.WaitForOutput("bound\n")) << squatter.Output();
    TChild& holder = Start(2, "bob", TestBinDir() + "/mailslot_holder messngr");
    // The opening is done at once, as one that waits for the holder.
    ASSERT_TRUE(holder.WaitForOutput("problem: \n")) << holder.Output();
    if (mode == "turnaway") {
      // Turned away again and again, it tries less and less often.
      ASSERT_TRUE(squatter.WaitForOutput("turned away ")) << squatter.Output();
      const std::string output = squatter.Output();
      EXPECT_LT(std::stoi(output.substr(output.find("turned away ") + 12)), 50) << output;
    }
    EXPECT_FALSE(PortsHeld(holder.Pid()));
    squatter.Stop();
    ASSERT_TRUE(WaitForTable(holder.Pid(), "udp", ":008A "));
    EXPECT_EQ(Run(1, "alice", Cli() + " send bob past the " + mode), 0);
    EXPECT_TRUE(holder.WaitForOutput("message: ALICE")) << holder.Output();
    EXPECT_EQ(holder.Stop(), 0);
  }
}

// Reads utime + stime of a process, in clock ticks.
long CpuTicks(pid_t pid) {
  std::string stat = FileText("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

TEST_F(LanTest, HolderOutOfFileDescriptorsIdlesUntilAWaiterGoes) {
  PLING_MAKE_LAN(2);
  TChild& holder = Start(2, "bob", TestBinDir() + "/mailslot_holder messngr");
  ASSERT_TRUE(holder.WaitForOutput("problem: \n")) << holder.Output();
  ASSERT_TRUE(WaitForTable(holder.Pid(), "udp", ":008A "));
  // Room for two waiters more; twenty come.
  const std::string fds = "/proc/" + std::to_string(holder.Pid()) + "/fd";
  const auto open = std::distance(std::filesystem::directory_iterator(fds),
                                  std::filesystem::directory_iterator());
  ASSERT_EQ(Shell("prlimit --pid " + std::to_string(holder.Pid()) +
                  " --nofile=" + std::to_string(open + 2)),
            0);
  std::ofstream(Dir() + "/waiters.py") << R"PY(
import socket, time
waiters = [socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) for _ in range(20)]
for w in waiters:
    w.connect(b'\0pling\\netbios-holder')
print('waiting', flush=True)
time.sleep(60)
)PY";
  TChild& waiters = Start(2, "bob", "python3 " + Dir() + "/waiters.py");
  ASSERT_TRUE(waiters.WaitForOutput("waiting\n")) << waiters.Output();
  // Busy, it would use a whole core.
  const long before = CpuTicks(holder.Pid());
  std::this_thread::sleep_for(1s);
  EXPECT_LT(CpuTicks(holder.Pid()) - before, sysconf(_SC_CLK_TCK) / 5);
  // Once they go it still serves, and takes waiters again.
  waiters.Stop();
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob still served"), 0);
  EXPECT_TRUE(holder.WaitForOutput("message: ALICE")) << holder.Output();
  TChild& next = Start(2, "bob", TestBinDir() + "/mailslot_holder other");
  ASSERT_TRUE(next.WaitForOutput("problem: \n")) << next.Output();
  EXPECT_EQ(holder.Stop(), 0);
  EXPECT_TRUE(WaitForTable(next.Pid(), "udp", ":008A "));
}

TEST_F(LanTest, WorkgroupWriteFromAHostWithTwoAddressesOnTheSubnetArrivesOnce) {
  PLING_MAKE_LAN(2);
  ASSERT_EQ(Shell("ip -n " + Host(1) + " addr add " + Address(101) + "/24 brd " +
                  BroadcastAddress() + " dev " + Veth(1)),
            0);
  TChild& bob = Listen(2, "bob");
  ASSERT_TRUE(bob.WaitForReachable());
  EXPECT_EQ(Run(1, "alice", Cli() + " send \"*\" once only"), 0);
  EXPECT_TRUE(bob.WaitForOutput("once only\n"));
  // Time for a second copy to show.
  std::this_thread::sleep_for(300ms);
  bob.Stop();
  EXPECT_EQ(Count(bob.Output(), "ALICE to * : once only\n"), 1u) << bob.Output();
}

TEST_F(LanTest, ListenerSaysWhyItCannotReceiveAndStillWorksLocally) {
  PLING_MAKE_LAN(2);
  // Another program holds the datagram port.
  TChild& squatter = Start(2, "bob",
                           "python3 -c \"import socket,time; s=socket.socket(socket.AF_INET, "
                           "socket.SOCK_DGRAM); s.bind((str(), 138)); time.sleep(30)\"");
  ASSERT_TRUE(WaitForTable(squatter.Pid(), "udp", ":008A "));
  TChild& listener = Start(2, "bob", Cli() + " listen");
  ASSERT_TRUE(WaitForMessenger(listener.Pid(), false));
  EXPECT_EQ(Run(2, "bob", Cli() + " send . on this machine"), 0);
  // A workgroup write is still sent, and reaches the local mailslot.
  EXPECT_EQ(Run(2, "bob", Cli() + " send \"*\" to the group"), 0);
  EXPECT_TRUE(listener.WaitForOutput("to the group\n"));
  std::this_thread::sleep_for(200ms);
  listener.Stop();
  const std::string output = listener.Output();
  EXPECT_EQ(Count(output, "another program (such as a NetBIOS name server) holds UDP port 138"), 1u)
      << output;
  EXPECT_EQ(Count(output, "BOB to . : on this machine\n"), 1u) << output;
  EXPECT_EQ(Count(output, "BOB to * : to the group\n"), 1u) << output;
}

TEST_F(LanTest, HostilePacketsLeaveTheListenerRunning) {
  PLING_MAKE_LAN(2);
  TChild& bob = Listen(2, "bob");
  ASSERT_TRUE(bob.WaitForReachable());
  // Truncations of a valid datagram at every length, every length and offset
  // field set to extremes, names cut short, random bytes, a flood on both ports,
  // and datagrams for other names and slots; then one good message.
  const std::string script = R"PY(
import os, random, socket, struct
random.seed(7)
def name(n, suffix):
    raw = n.ljust(15).encode()[:15] + bytes([suffix])
    return b'\x20' + bytes(c for b in raw for c in (0x41 + (b >> 4), 0x41 + (b & 15))) + b'\x00'
def dgram(dest, slot=b'\\MAILSLOT\\MESSNGR', data=b'EVE\x00BOB\x00x\x00', kind=0x10):
    smb = bytearray(b'\xffSMB\x25' + bytes(27))
    words = struct.pack('<BHHHHBBHIHHHHHBBHHH', 17, 0, len(data), 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        len(data), 70 + len(slot), 3, 0, 1, 0, 2)
    body = smb + words + struct.pack('<H', len(slot) + 1 + len(data)) + slot + b'\x00' + data
    names = name('EVE', 0) + dest
    return struct.pack('>BBHIHHH', kind, 2, 1, 0x0a000001, 138, len(names) + len(body), 0) + names + body
good = dgram(name('BOB', 3))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
to, ns = (os.environ['TO'], 138), (os.environ['TO'], 137)
for n in range(len(good)):
    s.sendto(good[:n], to)
for at in range(0, 82 + 80, 2):
    for value in (b'\xff\xff', b'\x00\x00', b'\x7f\xff'):
        bad = bytearray(good); bad[at:at + 2] = value; s.sendto(bytes(bad), to)
wrong = b'EVE\x00BOB\x00wrong\x00'
s.sendto(dgram(name('SOMEONE', 3), data=wrong), to)
s.sendto(dgram(name('BOB', 3), slot=b'\\MAILSLOT\\NOBODY', data=wrong), to)
s.sendto(dgram(name('BOB', 3), slot=b'\\OTHER\\MESSNGR', data=wrong), to)
s.sendto(dgram(name('BOB', 3), data=wrong, kind=0x13), to)
frag = bytearray(dgram(name('BOB', 3), data=wrong)); frag[1] = 3; s.sendto(bytes(frag), to)
for i in range(3000):
    junk = bytes(random.getrandbits(8) for _ in range(random.randrange(0, 600)))
    s.sendto(junk, to); s.sendto(junk[:50], ns)
s.sendto(b'\x00\x01' + bytes(48), ns)
)PY";
  std::ofstream(Dir() + "/hostile.py") << script;
  EXPECT_EQ(Run(1, "eve", "env TO=" + Address(2) + " python3 " + Dir() + "/hostile.py", 60s), 0);
  EXPECT_TRUE(bob.Running());
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob still here"), 0);
  EXPECT_TRUE(bob.WaitForOutput("still here\n"));
  EXPECT_TRUE(bob.Running());
  bob.Stop();
  // Mutations of fields that receivers ignore still arrive; what is not for this
  // machine's messenger, or not a whole datagram, never does.
  EXPECT_EQ(Count(bob.Output(), "ALICE to bob : still here\n"), 1u);
  EXPECT_EQ(Count(bob.Output(), "wrong"), 0u);
}

TEST_F(LanTest, NameServerAnswersOurResolverAndItsLookupFindsUs) {
  PLING_MAKE_LAN(3);
  if (Shell("command -v nmbd && command -v nmblookup") != 0) {
    GTEST_SKIP() << "nmbd or nmblookup (packages samba, samba-common-bin) missing; not run";
  }
  const std::string dir = Dir() + "/nmbd";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/smb.conf")
      << "[global]\n netbios name = NAMESERVER\n workgroup = LANTEST\n interfaces = " << Address(1)
      << "/24\n bind interfaces only = yes\n disable netbios = no\n lock directory = " << dir
      << "\n state directory = " << dir << "\n cache directory = " << dir
      << "\n private dir = " << dir << "\n pid directory = " << dir << "\n log file = " << dir
      << "/log\n";
  TChild& nmbd =
      Start(1, "nameserver", "nmbd -F --no-process-group --debug-stdout -s " + dir + "/smb.conf");
  ASSERT_TRUE(WaitForTable(nmbd.Pid(), "udp", ":0089 ")) << nmbd.Output();
  // nmbd registers its names by broadcasting for a while before it answers.
  bool resolved = false;
  for (int i = 0; i < 20 && !resolved; ++i) {
    resolved = Run(2, "alice", Cli() + " send nameserver hello") == 0;
    if (!resolved) std::this_thread::sleep_for(500ms);
  }
  EXPECT_TRUE(resolved) << nmbd.Output();

  TChild& bob = Listen(3, "bob");
  ASSERT_TRUE(bob.WaitForReachable());
  std::string output;
  EXPECT_EQ(Run(2, "alice", "nmblookup -B " + BroadcastAddress() + " BOB#03", 10s, &output), 0);
  EXPECT_NE(output.find(Address(3) + " BOB<03>"), std::string::npos) << output;
  EXPECT_EQ(Run(2, "alice", "nmblookup -B " + BroadcastAddress() + " LANTEST#00", 10s, &output), 0);
  EXPECT_NE(output.find(Address(3) + " LANTEST<00>"), std::string::npos) << output;
}

TEST_F(LanTest, IndependentDecoderReadsAMessageCapturedOnTheWire) {
  PLING_MAKE_LAN(2);
  if (Shell("command -v tshark") != 0) GTEST_SKIP() << "tshark missing; not run";
  TChild& bob = Listen(2, "bob", "--raw");
  ASSERT_TRUE(bob.WaitForReachable());
  // Captured on the bridge: the first datagram to port 138 after the name query.
  const std::string fields =
      " -e ip.src -e ip.dst -e nbdgm.type -e nbdgm.src.ip -e nbdgm.source_name"
      " -e nbdgm.destination_name -e smb.cmd -e mailslot.name -e data.data";
  TChild capture(
      "exec ip netns exec " + Bridge() +
          " tshark -l -n -i br0 -f \"udp dst port 138\" -c 1 -a duration:60 -T fields -E "
          "separator=/s" +
          fields,
      Dir() + "/capture");
  bool capturing = false;
  for (int i = 0; i < 1000 && !capturing; ++i) {
    std::this_thread::sleep_for(20ms);
    // tshark says so once its capture process runs (not yet at "Capturing on").
    capturing = capture.Output().find("Capture started") != std::string::npos;
  }
  ASSERT_TRUE(capturing) << capture.Output();
  // As a datagram (a session message first would go to TCP 139).
  ASSERT_EQ(Run(1, "alice", Cli() + " settings set Settings SessionMessages 0"), 0);
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob Hi"), 0);
  EXPECT_EQ(capture.Wait(30s), 0);
  EXPECT_TRUE(bob.WaitForOutput("\n"));
  bob.Stop();
  // What the decoder read: the addresses, a direct unique datagram from ALICE<00>
  // to BOB<03> carrying an SMB transaction to the messenger mailslot, and as its
  // data exactly the datagram that reached BOB's mailslot.
  std::string received = bob.Output();
  std::erase_if(received, [](char c) { return c == ' ' || c == '\n'; });
  ASSERT_FALSE(received.empty());
  const std::string output = capture.Output();
  const std::size_t line = output.find(Address(1) + " ");
  ASSERT_NE(line, std::string::npos) << output;
  EXPECT_EQ(output.substr(line, output.find('\n', line) - line),
            Address(1) + " " + Address(2) + " 16 " + Address(1) +
                " ALICE<00> BOB<03> 0x25 \\MAILSLOT\\MESSNGR " + received);
}

TEST_F(LanTest, HolderQueriesFromTheNameServicePortForPeersThatAnswerOnlyThere) {
  PLING_MAKE_LAN(2);
  // A peer in the manner of old systems: it answers a name query only when it came
  // from port 137, and reports the datagrams that reach its port 138.
  const std::string peer = R"PY(
import select, socket, struct, sys
ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); ns.bind(('', 137))
dg = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); dg.bind(('', 138))
me = socket.inet_aton(sys.argv[1])
print('ready', flush=True)
while True:
    for s in select.select([ns, dg], [], [])[0]:
        data, (host, port) = s.recvfrom(2048)
        if s is dg:
            print('datagram', data[-6:].decode('latin-1'), flush=True)
        elif len(data) == 50 and data[2] & 0x80 == 0 and port == 137:
            answer = data[:2] + b'\x85\x80\x00\x00\x00\x01\x00\x00\x00\x00' + data[12:46]
            answer += b'\x00\x20\x00\x01' + struct.pack('>IHH', 300, 6, 0) + me
            ns.sendto(answer, (host, port))
)PY";
  std::ofstream(Dir() + "/oldpeer.py") << peer;
  TChild& old = Start(2, "oldpeer", "python3 " + Dir() + "/oldpeer.py " + Address(2));
  ASSERT_TRUE(WaitForTable(old.Pid(), "udp", ":0089 ") && WaitForTable(old.Pid(), "udp", ":008A "));
  // From a port of its own, as a process without the ports sends, it finds nobody.
  EXPECT_EQ(Run(1, "alice", Cli() + " send oldpeer not found"), 1);
  // The process that holds the ports asks from 137 and gets through.
  TChild& holder = Start(1, "alice", TestBinDir() + "/mailslot_holder other oldpeer Hello!");
  bool sent = false;
  for (int i = 0; i < 500 && !sent; ++i) {
    std::this_thread::sleep_for(20ms);
    sent = holder.Output().find("sent: ") != std::string::npos;
  }
  EXPECT_NE(holder.Output().find("sent: yes"), std::string::npos) << holder.Output();
  EXPECT_TRUE(old.WaitForOutput("datagram Hello!"));
  holder.Stop();
  EXPECT_NE(old.Output().find("datagram Hello!"), std::string::npos) << old.Output();
}

TEST_F(LanTest, SwitchedOffNothingIsSentOrReceived) {
  PLING_MAKE_LAN(2);
  TChild& bob = Start(2, "bob", Cli() + " listen", "off");
  TChild& alice = Listen(1, "alice");
  ASSERT_TRUE(WaitForMessenger(bob.Pid(), false) && alice.WaitForReachable());
  // Off, bob holds no port, and nobody answers for him.
  EXPECT_FALSE(PortsHeld(bob.Pid()));
  std::string output;
  EXPECT_EQ(Run(1, "alice", Cli() + " send bob are you there", 10s, &output), 1);
  EXPECT_NE(output.find("no machine of that name answers on the network"), std::string::npos)
      << output;
  // Off, a workgroup write goes nowhere but to this machine, which fails.
  TChild& offSender = Start(2, "bob", Cli() + " send \"*\" not sent", "off");
  EXPECT_EQ(offSender.Wait(10s), 1);
  EXPECT_NE(offSender.Output().find("the network is switched off"), std::string::npos)
      << offSender.Output();
  std::this_thread::sleep_for(300ms);
  bob.Stop();
  alice.Stop();
  EXPECT_EQ(bob.Output(), "");
  EXPECT_EQ(alice.Output(), "");
}

}  // namespace
}  // namespace pling::testing

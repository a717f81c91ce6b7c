// SPDX-License-Identifier: GPL-3.0-or-later
// The port holder under a flood, on a private LAN of network namespaces (see
// lan_fixture.h): names are answered and other hosts' messages delivered while
// one host floods, each sender gets a fair share and the flooder is named once,
// and what the network may not make this machine do (take oversized data, answer
// a whole subnet) it does not do. Each flood is a few thousand datagrams.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "lan_fixture.h"
#include "wait_until.h"

namespace pling::testing {
namespace {

// Mailslot writes to BOB<03>'s messenger mailslot, each from a sender name of its
// own, as fast as one socket takes them: flood.py TO COUNT DATASIZE [SOURCES]
// (SOURCES: comma-separated local addresses to send from in turn).
constexpr const char* kFlood = R"PY(
import socket, struct, sys, time
to, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
sources = sys.argv[4].split(',') if len(sys.argv) > 4 else ['']
def name(n, suffix):
    raw = n.ljust(15).encode()[:15] + bytes([suffix])
    return b'\x20' + bytes(c for b in raw for c in (0x41 + (b >> 4), 0x41 + (b & 15))) + b'\x00'
def dgram(data, slot=b'\\MAILSLOT\\MESSNGR'):
    smb = b'\xffSMB\x25' + bytes(27)
    words = struct.pack('<BHHHHBBHIHHHHHBBHHH', 17, 0, len(data), 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        len(data), 70 + len(slot), 3, 0, 1, 0, 2)
    body = smb + words + struct.pack('<H', len(slot) + 1 + len(data)) + slot + b'\x00' + data
    names = name('EVE', 0) + name('BOB', 3)
    return struct.pack('>BBHIHHH', 0x10, 2, 1, 0x0a000001, 138, len(names) + len(body), 0) + names + body
socks = []
for source in sources:
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    s.bind((source, 0))
    socks.append(s)
packets = []
for i in range(count):
    head = b'F%d\x00BOB\x00flood %d ' % (i, i)
    packets.append(dgram(head + b'x' * max(0, size - len(head))))
for i, packet in enumerate(packets):
    socks[i % len(socks)].sendto(packet, (to, 138))
    # A breath now and then: the kernel queues a thousand packets a processor on
    # their way through the veth pairs, and drops the rest where a busy machine
    # falls behind. Still far over any sender's limit.
    if i % 200 == 199:
        time.sleep(0.001)
print('flooded', count, flush=True)
)PY";

// Asks TO's name service for BOB<03> (kind "name") or for its names (kind
// "status") as a sender does: three tries 250 ms apart. Exit 0 when answered.
constexpr const char* kAsk = R"PY(
import random, socket, struct, sys
to, kind = sys.argv[1], sys.argv[2]
def name(n, suffix):
    raw = n.ljust(15).encode()[:15] + bytes([suffix]) if n != '*' else b'*' + bytes(15)
    return b'\x20' + bytes(c for b in raw for c in (0x41 + (b >> 4), 0x41 + (b & 15))) + b'\x00'
ident = random.randrange(65536)
if kind == 'name':
    query = struct.pack('>HHHHHH', ident, 0x0100, 1, 0, 0, 0) + name('BOB', 3) + b'\x00\x20\x00\x01'
else:
    query = struct.pack('>HHHHHH', ident, 0x0000, 1, 0, 0, 0) + name('*', 0) + b'\x00\x21\x00\x01'
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(0.25)
for attempt in range(3):
    s.sendto(query, (to, 137))
    try:
        while True:
            answer, source = s.recvfrom(2048)
            if answer[:2] == query[:2] and answer[2] & 0x80:
                print('answered', kind, len(answer), flush=True)
                sys.exit(0)
    except socket.timeout:
        pass
print('unanswered', kind, flush=True)
sys.exit(1)
)PY";

class FloodTest : public TLanTest {
 protected:
  void WriteScripts() {
    std::ofstream(Dir() + "/flood.py") << kFlood;
    std::ofstream(Dir() + "/ask.py") << kAsk;
  }
  std::string Flood(int to, int count, int size, const std::string& sources = "") const {
    return "python3 " + Dir() + "/flood.py " + Address(to) + " " + std::to_string(count) + " " +
           std::to_string(size) + (sources.empty() ? "" : " " + sources);
  }
  std::string Ask(int to, const std::string& kind) const {
    return "python3 " + Dir() + "/ask.py " + Address(to) + " " + kind;
  }
};

// The number after `key` in mailslot_holder's "counts:" line.
long Counted(const std::string& output, const std::string& key) {
  const std::size_t line = output.find("counts:");
  if (line == std::string::npos) return -1;
  const std::size_t at = output.find(" " + key + " ", line);
  return at == std::string::npos ? -1 : std::stol(output.substr(at + key.size() + 2));
}

// The messenger mailslot held by a program that never reads it: full at once.
constexpr const char* kStuckReader = R"PY(
import socket, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(b'\0mailslot\\MESSNGR')
print('holding', flush=True)
time.sleep(60)
)PY";

TEST_F(FloodTest, AMailslotThatTakesNoMoreLosesTheFloodAtOnceAndNamesAreStillAnswered) {
  PLING_MAKE_LAN(3);
  WriteScripts();
  // Three addresses on the flooding host, each within its own share.
  std::string sources;
  for (int extra = 101; extra <= 103; ++extra) {
    ASSERT_EQ(Shell("ip -n " + Host(1) + " addr add " + Address(extra) + "/24 brd " +
                    BroadcastAddress() + " dev " + Veth(1)),
              0);
    sources += (sources.empty() ? "" : ",") + Address(extra);
  }
  TChild& holder = Start(2, "bob", TestBinDir() + "/mailslot_holder other");
  ASSERT_TRUE(holder.WaitForOutput("problem: \n")) << holder.Output();
  ASSERT_TRUE(WaitForTable(holder.Pid(), "udp", ":0089 "));
  std::ofstream(Dir() + "/stuck.py") << kStuckReader;
  TChild& stuck = Start(2, "bob", "python3 " + Dir() + "/stuck.py");
  ASSERT_TRUE(stuck.WaitForOutput("holding\n")) << stuck.Output();

  std::string output;
  ASSERT_EQ(Run(1, "eve", Flood(2, 3000, 400, sources), 30s, &output), 0) << output;
  // A holder that waited for the mailslot would be busy with the flood for a
  // minute; this one answers at once.
  EXPECT_EQ(Run(3, "alice", Ask(2, "name"), 10s, &output), 0) << output;
  EXPECT_EQ(Run(3, "alice", Ask(2, "status"), 10s, &output), 0) << output;
  EXPECT_EQ(holder.Stop(), 0);
  const std::string counts = holder.Output();
  // No sender went over its share; what the mailslot could not take (far more
  // than it holds arrived) was counted as dropped.
  const long datagrams = Counted(counts, "datagrams");
  EXPECT_GT(datagrams, 2000) << counts;
  EXPECT_EQ(Counted(counts, "limited"), 0) << counts;
  EXPECT_GT(Counted(counts, "full"), 0) << counts;
  // Browse frames from the other hosts (their announcements) go to the browse service.
  EXPECT_EQ(Counted(counts, "delivered") + Counted(counts, "full") + Counted(counts, "tapped"),
            datagrams)
      << counts;
  EXPECT_EQ(Counted(counts, "answers"), 2) << counts;
}

TEST_F(FloodTest, AnotherHostsMessagesArriveWhileOneFloodsWhichIsLimitedAndNamedOnce) {
  PLING_MAKE_LAN(3);
  WriteScripts();
  // The ports held by one process, the messenger mailslot by another: the holder
  // hands the messages over.
  TChild& holder = Start(2, "bob", TestBinDir() + "/mailslot_holder other");
  ASSERT_TRUE(holder.WaitForOutput("problem: \n")) << holder.Output();
  // The listener keeps no history here: the flood's first burst is to reach it at
  // full speed, and the history's index costs time for every message, which a
  // ThreadSanitizer build multiplies until the burst overflows the mailslot.
  ASSERT_EQ(Run(2, "bob", Cli() + " settings set Settings History 0"), 0);
  TChild& bob = Listen(2, "bob");
  ASSERT_TRUE(bob.WaitForReachable());

  constexpr int kFloodSize = 5000;
  TChild& flood = Start(1, "eve", Flood(2, kFloodSize, 60));
  TChild& alice =
      Start(3, "alice",
            "sh -c \"for i in 1 2 3; do " + Cli() + " send bob legitimate \\$i || exit 1; done\"");
  EXPECT_EQ(flood.Wait(30s), 0) << flood.Output();
  EXPECT_EQ(alice.Wait(30s), 0) << alice.Output();
  for (const char* n : {"1", "2", "3"}) {
    EXPECT_TRUE(bob.WaitForOutput(std::string("ALICE to bob : legitimate ") + n + "\n"));
  }
  EXPECT_EQ(holder.Stop(), 0);
  bob.Stop();
  const std::string output = bob.Output();
  const std::string counts = holder.Output();
  // The flood's first burst was let through and the rest was limited; the
  // listener said so once, naming the flooder. What the listener's mailslot
  // could not take as fast as it came was dropped there (counted as full): a
  // slow build shows less of the burst, never more than the limit lets through.
  EXPECT_GE(Counted(counts, "delivered") + Counted(counts, "full"), 1000) << counts;
  const std::size_t flooded = Count(output, " to BOB : flood ");
  EXPECT_GT(flooded, 0u);
  EXPECT_LT(flooded, static_cast<std::size_t>(kFloodSize) / 2);
  const std::string said = bob.Errors();
  EXPECT_EQ(Count(said, "pling-cli: Messages from " + Address(1) +
                            " were dropped: it sent more than 200 a second\n"),
            1u)
      << said;
  EXPECT_EQ(Count(said, "were dropped"), 1u);
  EXPECT_GT(Counted(counts, "limited"), 0) << counts;
}

// Sends TO's name service a name query and a node status query from a forged
// source address (a raw socket), then asks TO itself and, once answered, tells
// the watcher it is done: whatever TO sent the forged source went out before.
constexpr const char* kForge = R"PY(
import random, socket, struct, sys
to, forged, watcher = sys.argv[1], sys.argv[2].split(','), sys.argv[3]
def name(n, suffix):
    raw = n.ljust(15).encode()[:15] + bytes([suffix]) if n != '*' else b'*' + bytes(15)
    return b'\x20' + bytes(c for b in raw for c in (0x41 + (b >> 4), 0x41 + (b & 15))) + b'\x00'
def query(kind):
    ident = random.randrange(65536)
    if kind == 'name':
        return struct.pack('>HHHHHH', ident, 0x0110, 1, 0, 0, 0) + name('BOB', 3) + b'\x00\x20\x00\x01'
    return struct.pack('>HHHHHH', ident, 0, 1, 0, 0, 0) + name('*', 0) + b'\x00\x21\x00\x01'
raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
for source in forged:
    for kind in ('name', 'status'):
        payload = query(kind)
        udp = struct.pack('>HHHH', 137, 137, 8 + len(payload), 0) + payload
        ip = struct.pack('>BBHHHBBH4s4s', 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                         socket.inet_aton(source), socket.inet_aton(to))
        raw.sendto(ip + udp, (to, 0))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(2)
s.sendto(query('name'), (to, 137))
s.recvfrom(2048)
s.sendto(b'done', (watcher, 137))
print('forged', flush=True)
)PY";

// On port 137 until "done" arrives: prints every other packet's source.
constexpr const char* kWatch = R"PY(
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(('', 137))
print('watching', flush=True)
while True:
    data, source = s.recvfrom(2048)
    if data == b'done':
        break
    print('received from', source[0], len(data), flush=True)
print('end', flush=True)
)PY";

TEST_F(FloodTest, OversizedDataIsDiscardedAndNoAnswerGoesToASubnetAddress) {
  PLING_MAKE_LAN(3);
  WriteScripts();
  TChild& bob = Listen(2, "bob");
  ASSERT_TRUE(bob.WaitForReachable());
  // The most data a mailslot write may carry arrives; one byte more, or a
  // datagram as large as UDP carries, does not.
  std::string output;
  for (const int size : {424, 425, 65000}) {
    ASSERT_EQ(Run(1, "eve", Flood(2, 1, size), 10s, &output), 0) << output;
  }
  ASSERT_EQ(Run(1, "eve", Flood(2, 1, 20), 10s, &output), 0) << output;
  EXPECT_TRUE(bob.WaitForOutput(" : flood 0 xxxxx\n"));  // the last, 20 bytes long

  // Queries that claim to come from the subnet's broadcast or network address
  // get no answer (which would reach every host); the watcher's own does.
  std::ofstream(Dir() + "/forge.py") << kForge;
  std::ofstream(Dir() + "/watch.py") << kWatch;
  TChild& carol = Start(3, "carol", "python3 " + Dir() + "/watch.py");
  ASSERT_TRUE(carol.WaitForOutput("watching\n"));
  const std::string network = Address(0);
  ASSERT_EQ(Run(1, "eve",
                "python3 " + Dir() + "/forge.py " + Address(2) + " " + BroadcastAddress() + "," +
                    network + " " + Address(3),
                10s, &output),
            0)
      << output;
  EXPECT_EQ(carol.Wait(10s), 0);
  EXPECT_EQ(carol.Output(), "watching\nend\n");
  EXPECT_EQ(Run(3, "carol", Ask(2, "status"), 10s, &output), 0) << output;

  bob.Stop();
  const std::string received = bob.Output();
  const std::string longest(424 - std::string("F0\0BOB\0flood 0 ", 15).size(), 'x');
  EXPECT_EQ(Count(received, " : flood 0 " + longest + "\n"), 1u);
  EXPECT_EQ(Count(received, " : flood 0 "), 2u) << received.substr(0, 300);
}

// A name query flood: query.py TO COUNT sends COUNT name queries for BOB<03>,
// as fast as a socket takes them.
constexpr const char* kQueryFlood = R"PY(
import socket, struct, sys
to, count = sys.argv[1], int(sys.argv[2])
raw = b'BOB'.ljust(15) + b'\x03'
name = b'\x20' + bytes(c for b in raw for c in (0x41 + (b >> 4), 0x41 + (b & 15))) + b'\x00'
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
for i in range(count):
    s.sendto(struct.pack('>HHHHHH', i & 0xffff, 0x0000, 1, 0, 0, 0) + name + b'\x00\x20\x00\x01',
             (to, 137))
print('queried', count, flush=True)
)PY";

// The holder hears a name query flood on a thread of its own; the programs
// waiting on it are told, as of a datagram flood.
TEST_F(FloodTest, ANameQueryFloodIsToldToTheProgramsWaitingOnTheHolder) {
  PLING_MAKE_LAN(3);
  std::ofstream(Dir() + "/query.py") << kQueryFlood;
  TChild& holder = Start(2, "bob", TestBinDir() + "/mailslot_holder other");
  ASSERT_TRUE(holder.WaitForOutput("problem: \n")) << holder.Output();
  ASSERT_EQ(Run(2, "bob", Cli() + " settings set Settings History 0"), 0);
  TChild& bob = Listen(2, "bob");
  ASSERT_TRUE(bob.WaitForReachable());
  EXPECT_EQ(Run(3, "carol", "python3 " + Dir() + "/query.py " + Address(2) + " 5000", 30s), 0);
  EXPECT_TRUE(WaitUntil([&] {
    return bob.Errors().find("Messages from " + Address(3) + " were dropped") != std::string::npos;
  })) << bob.Errors();
  EXPECT_EQ(holder.Stop(), 0);
  EXPECT_GT(Counted(holder.Output(), "namelimited"), 0) << holder.Output();
}
}  // namespace
}  // namespace pling::testing

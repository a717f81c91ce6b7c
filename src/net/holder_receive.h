// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the port holder does with each packet that reaches this machine's NetBIOS
// ports, apart from the sockets (see port_holder.h): which datagrams go to a
// local mailslot, which name service packets get an answer and where it goes,
// and what is dropped. Every packet is counted.
//
// - Each source address gets a fair share (sender_limits.h): a datagram or name
//   packet over its sender's limit is dropped before anything else is done with
//   it. Packets sent on this machine are not limited.
// - A mailslot write carrying more than kMaxMailslotData bytes of data is
//   discarded, as Windows discards it.
// - A datagram must be addressed to one of this machine's names (COMPUTER<00>,
//   COMPUTER<03>, USER<03>, WORKGROUP<00>, the broadcast name, or the messenger
//   name of a user whose programs receive through this holder) and to a
//   "\MAILSLOT\" name; a group or broadcast write from this machine's own address
//   was handed to the local mailslot by its writer already.
// - Name queries for one of those names, and node status queries for "*" or one
//   of them, are answered to the asker alone, and never to an address that is
//   not a single host elsewhere (see MayAnswer). An answer is never larger than a
//   query needs: a name answer is 62 bytes whatever the query carried, a status
//   answer (at most four names and the statistics block peers expect) at most 175.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/interfaces.h"
#include "net/netbios.h"
#include "net/sender_limits.h"

namespace pling::net {

// [users] The messenger names (NAME<03>) the holder claims for the users whose
// programs receive through it (holder_users.h). Called from the holder's threads.
class IHolderUserNames {
 public:
  virtual ~IHolderUserNames() = default;
  // Whether `name` (upper case) is one of them and was not given up to another
  // machine: datagrams for it are taken.
  virtual bool Takes(const TNetBiosName& name) const = 0;
  // Whether this machine holds `name` (upper case) for such a user now.
  virtual bool Holds(const TNetBiosName& name) const = 0;
  // The names held now, in the order their users came.
  virtual std::vector<TNetBiosName> Held() const = 0;
};

// The names this machine answers to, as the holder serves them.
struct THolderNames {
  using THolds = std::function<bool(const TNetBiosName& name)>;
  // OEM code page, upper case.
  THolderNames(std::string_view computerName, std::string_view userName, std::string_view workgroup,
               THolds holds = {}, THolds yields = {});

  TNetBiosName computer00, computer03, user03, workgroup00;
  // [names] Whether this machine holds a name now (name_service.h): one it does
  // not hold gets no answer and is not listed. Empty: it holds all of them.
  THolds holds;
  bool Holds(const TNetBiosName& name) const { return !holds || holds(name); }
  // [names] Whether this machine gave a name up to another machine: datagrams
  // for it are not taken (those for a name still being claimed are). Empty: none.
  THolds yields;
  bool Yields(const TNetBiosName& name) const { return yields && yields(name); }
  // [users] The names of the users that receive through this holder; none: only
  // its own. An empty userName claims no USER<03> of its own.
  std::shared_ptr<const IHolderUserNames> users;

  // Whether a datagram to `name` (in any case) is for this machine.
  bool IsOurs(const TNetBiosName& name) const;
  // Whether a status query for `name` (in any case) is answered.
  bool Answers(const TNetBiosName& name) const;
  // The names a node status answer lists, the workgroup as a group name.
  std::vector<TStatusEntry> StatusNames() const;
  // Whether `upper` is COMPUTER<00>, COMPUTER<03> or (when there is one) USER<03>.
  bool IsOwn(const TNetBiosName& upper) const;
  // [users] Whether `upper` is held for a user that receives through this holder.
  bool HoldsForUser(const TNetBiosName& upper) const;
};

// Where a packet came from (host byte order).
struct TPacketSource {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

// What the holder has taken and dropped since this process took the ports.
struct THolderCounts {
  std::uint64_t datagrams = 0;       // datagrams received on the datagram port
  std::uint64_t delivered = 0;       // handed to a local mailslot
  std::uint64_t limited = 0;         // dropped: their sender was over its limit
  std::uint64_t oversized = 0;       // dropped: more than kMaxMailslotData bytes of data
  std::uint64_t ignored = 0;         // not a mailslot write for this machine
  std::uint64_t noMailslot = 0;      // nobody here holds the mailslot they name
  std::uint64_t mailslotFull = 0;    // the mailslot took no more
  std::uint64_t namePackets = 0;     // packets received on the name port
  std::uint64_t nameLimited = 0;     // dropped: their sender was over its limit
  std::uint64_t answers = 0;         // name and node status answers sent
  std::uint64_t answersRefused = 0;  // queries from an address no answer may go to
  std::uint64_t tapped = 0;          // taken by a service of the holder's (browse frames)
};

// The counters behind THolderCounts, written by the holder's threads.
struct THolderCounters {
  std::atomic<std::uint64_t> datagrams{0}, delivered{0}, limited{0}, oversized{0}, ignored{0},
      noMailslot{0}, mailslotFull{0}, namePackets{0}, nameLimited{0}, answers{0}, answersRefused{0},
      tapped{0};
  THolderCounts Read() const;
};

// A datagram's data for the local mailslot it names; both views stay valid until
// the next datagram is taken.
struct TLocalMessage {
  std::string_view slot;  // the part after "\MAILSLOT\", as it came
  std::string_view data;
};

// A name service packet to send back.
struct TNameReply {
  std::string packet;
  TPacketSource to;
};

// The datagram side and the name side may each be used by one thread of its own
// at the same time, and AdmitMessage by any; the counters may be read from any
// thread.
class THolderReceiver {
 public:
  using TClock = std::chrono::steady_clock;

  explicit THolderReceiver(THolderNames names, TSenderLimit limit = {});

  const THolderNames& Names() const { return FNames; }

  // Sees each mailslot datagram within its sender's limit before it is looked at
  // for a local mailslot (`local`: sent from this machine); true: it took the
  // datagram, which then goes nowhere else. Set before the first datagram.
  using TTap =
      std::function<bool(const TMailslotDatagram& datagram, const TPacketSource& from, bool local)>;
  void SetTap(TTap tap) { FTap = std::move(tap); }
  THolderCounters& Counters() { return FCounters; }

  // The datagram side. `interfaces` are this machine's; `truncated` says that the
  // datagram was longer than `packet` (cut off on receipt). The message for a
  // local mailslot, or none when the datagram is dropped. `report` is set to the
  // address to report as limited now: the sender's, or kAllSenders when all of
  // them together went over the total budget; else it is empty.
  std::optional<TLocalMessage> TakeDatagram(std::string_view packet, TPacketSource from,
                                            const std::vector<TInterface>& interfaces,
                                            TClock::time_point now,
                                            std::optional<std::uint32_t>& report,
                                            bool truncated = false);

  // A message from `address` that came another way than as a datagram (a
  // session message): whether it is within the limit the sender's datagrams
  // count against, spending from it (and from the total budget of session
  // messages); `report` as for TakeDatagram. From any thread. The caller leaves
  // this machine's own senders out.
  bool AdmitMessage(std::uint32_t address, TClock::time_point now,
                    std::optional<std::uint32_t>& report);

  // The name side, in two steps so that other services can see a packet between
  // them. Whether a name service packet from `from` is within its sender's limit
  // (counted either way); `report` as for TakeDatagram, when given.
  bool AdmitNamePacket(TPacketSource from, const std::vector<TInterface>& interfaces,
                       TClock::time_point now, std::optional<std::uint32_t>* report = nullptr);
  // The answer an admitted packet gets from this machine's names, if any.
  std::optional<TNameReply> AnswerNamePacket(std::string_view packet, TPacketSource from,
                                             const std::vector<TInterface>& interfaces);

 private:
  const THolderNames FNames;
  THolderCounters FCounters;
  bool Admit(std::uint32_t address, TClock::time_point now, TSenderWay way,
             std::optional<std::uint32_t>& report);
  std::mutex FDatagramSendersLock;  // the datagram side and AdmitMessage share it
  TSenderLimits FDatagramSenders;
  TSenderLimits FNameSenders;
  TTap FTap;
  // Where the datagram side's message lives until the next datagram.
  std::optional<TMailslotDatagram> FDatagram;
};

}  // namespace pling::net

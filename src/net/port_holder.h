// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The process that holds this machine's NetBIOS ports (UDP 137 and 138): the
// holder. One process per machine (per network namespace) holds them; it takes
// the datagrams addressed to this machine's names and hands their data to the
// local mailslot they name, whichever process holds it, and it answers name and
// node status queries for those names (see holder_receive.h for the rules).
//
// Who holds the ports is settled by an abstract Unix stream socket
// (kHolderSocket): the process that binds it tries the ports; every other
// receiving process connects to it and waits. When the holder ends, the kernel
// closes that socket, the waiters see the end of their connection, and one of
// them takes over. Nothing wakes up while all is quiet. A process that cannot
// have the ports (no privilege, or another program holds them) lets the socket
// go and tries again later, less often the longer it fails (up to once a
// minute), until it holds them or meets a holder that started meanwhile (the
// service pling-holder): from then on it receives, and nothing wakes it up.
// Where it may not bind them and a helper may (holder_helper.h), it starts the
// helper instead and waits on it as on any holder.
//
// A waiter tells the holder its user's name as it connects; the holder claims
// that user's messenger name while a program of the user waits on it, and tells
// the waiter when the name is settled (holder_users.h, holder_wire.h). Over the same connection
// the holder tells the waiters of senders it limits (see THolderConfig::
// senderLimited), so that whichever program shows messages can say so.
//
// The holder never stalls. The name service has a thread of its own, so queries
// are answered whatever arrives on the datagram port; datagrams are handed over
// without waiting (mailslot_outbox.h), and one for a mailslot that takes no more
// is dropped at once and counted; each sender on the network gets a fair share
// (sender_limits.h).
//
// Services of their own (the resolver's queries from port 137, session messages
// on TCP 139, ...) run beside the holder's: see IHolderService.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/holder_receive.h"
#include "net/mailslot_outbox.h"
#include "net/netbios.h"
#include "net/port_refusal.h"
#include "net/sender_limits.h"
#include "runtime/unique_fd.h"

namespace pling::net {

// The abstract Unix socket name the holder of the ports listens on.
inline constexpr std::string_view kHolderSocket = "pling\\netbios-holder";

// The sentence that tells the user why messages from other computers cannot be
// received: "Messages from other computers cannot be received: " and `why`.
std::string CannotReceive(std::string_view why);

// What a service may do while this process holds the ports.
class THolderPorts {
 public:
  virtual ~THolderPorts() = default;
  // Sends a name service packet from this machine's name service port, without
  // waiting; false when the kernel did not take it whole.
  virtual bool SendNamePacket(std::string_view packet, std::uint32_t address,
                              std::uint16_t port) = 0;
  // Sends a datagram from this machine's datagram port, likewise.
  virtual bool SendDatagram(std::string_view packet, std::uint32_t address, std::uint16_t port) = 0;
  // Whether one more message from `address` (host byte order) that came another
  // way than as a datagram (a session message) is within the limit its
  // datagrams count against. A sender over it is reported as a datagram flood
  // is, to this process and to every program waiting on it. From any thread.
  virtual bool AdmitMessageFrom(std::uint32_t address) = 0;
};

// A service that runs in the holder beside its own.
class IHolderService {
 public:
  virtual ~IHolderService() = default;
  // This process has taken the ports: `ports` may be used until Stopped. On the
  // holder's thread, before any packet is taken. Empty when the service runs;
  // else one sentence for the user saying what does not work (Problem() then
  // says it, while the rest is received). A service that returned a sentence is
  // started again every few seconds while the ports are held, until it runs (a
  // port another program held may be let go); Problem() follows.
  virtual std::string Started(THolderPorts& ports) = 0;
  // The ports the last Started could not take, when it returned a sentence.
  virtual std::vector<TPortRefusal> Refused() const { return {}; }
  // A name service packet that is within its sender's limit. True when the
  // service took it: the holder then gives no answer of its own. On the name
  // service thread; it must not wait.
  virtual bool TakeNamePacket(std::string_view packet, const TPacketSource& from) = 0;
  // A mailslot datagram within its sender's limit, before it is looked at for a
  // local mailslot (`local`: sent from this machine). True when the service took
  // it: it then goes nowhere else. On the holder's thread; it must not wait.
  virtual bool TakeDatagram(const TMailslotDatagram& /*datagram*/, const TPacketSource& /*from*/,
                            bool /*local*/) {
    return false;
  }
  // [names] The ports go soon (the process ends): name service packets still
  // come to TakeNamePacket and `ports` may still be used while this runs, which
  // may wait a moment (a second at most) for answers. On the holder's thread.
  virtual void Stopping() {}
  // The ports are about to be let go (the process ends): no packet comes any
  // more, and `ports` must not be used after this returns. On the holder's thread.
  virtual void Stopped() = 0;
};

// [users] The names of the users whose programs wait on this holder: it runs
// as one of the holder's services (the first), and the holder tells it who came
// and went (holder_users.h).
class IHolderWaiters : public IHolderService, public IHolderUserNames {
 public:
  // Told, on any thread, whenever a user's name is settled; it must not wait.
  // Before Started.
  virtual void Watch(std::function<void()> settled) = 0;
  // On the holder's thread: a program of `user` (OEM code page, upper case)
  // came, or went.
  virtual void Join(std::string_view user) = 0;
  virtual void Leave(std::string_view user) = 0;
  // Whether `user`'s name is settled (held, or held by another machine), or is
  // one the holder does not claim for it: its programs may be told so.
  virtual bool Settled(std::string_view user) const = 0;
};

struct THolderConfig {
  std::string computerName;  // OEM code page, upper case
  std::string userName;      // OEM code page, upper case
  std::string workgroup;     // OEM code page, upper case
  // [names] Whether this machine holds a name now (see THolderNames::holds).
  std::function<bool(const TNetBiosName& name)> holds;
  // [names] Whether this machine gave a name up (see THolderNames::yields).
  std::function<bool(const TNetBiosName& name)> yields;
  // Connects to this machine's mailslot of that name (see TMailslotOutbox).
  TMailslotOutbox::TConnect connectLocal;
  // Told of a sender on the network whose datagrams this machine drops because
  // it sends more than its share: at its first dropped datagram, and again every
  // kLimitReportInterval while it goes on; whichever process holds the ports.
  // Called on a thread of the holder's; it must not wait.
  std::function<void(std::uint32_t address)> senderLimited;
  // Services to run while this process holds the ports.
  std::vector<std::shared_ptr<IHolderService>> services;
  // [users] Claims the names of the waiting programs' users; it is also the first
  // of `services`. None: only this machine's own names are claimed.
  std::shared_ptr<IHolderWaiters> waiters;
  // Told, on the holder's thread, each time ServedByHolder() turns true: this
  // process waits on a holder (maybe one that started after it) that has settled
  // this user's name. It must not wait.
  std::function<void()> servedByHolder;
  // Where nobody holds the ports and this process may not bind them (no
  // privilege): starts the helper that may (holder_helper.h) and returns its
  // lifeline (the helper runs while it is open), or an invalid one when there is
  // none to start. This process then waits on the helper as on any holder, and
  // keeps the lifeline until it stops receiving. None: nothing is started.
  std::function<runtime::TUniqueFd()> startHelper;
  // Told, on the holder's thread, each time Problem(), HoldsPorts() or
  // ServedByHolder() changed (a holder this process waited on ended, one came,
  // ...). It must not wait.
  std::function<void()> changed;
  TSenderLimit limit;
  // The ports; other values only for tests and benchmarks.
  std::uint16_t datagramPort = kDatagramPort;
  std::uint16_t namePort = kNameServicePort;
  // The TCP port a service takes (session messages); 0: none. While the ports
  // above cannot be had, it is looked at too, so that the user learns every
  // port that another program holds.
  std::uint16_t sessionPort = 0;
};

class TPortHolder {
 public:
  explicit TPortHolder(THolderConfig config);
  // Stops (see Stop).
  ~TPortHolder();
  TPortHolder(const TPortHolder&) = delete;
  TPortHolder& operator=(const TPortHolder&) = delete;

  // Holds the ports or waits to take them over (once; later calls do nothing,
  // unless its thread could not be started, when they try again). Returns when
  // the first attempt is settled, so that Problem() tells its outcome; it never
  // waits on another process, except a helper it starts (startHelper), for a
  // moment (two seconds at most) while that takes the ports.
  void Start();

  // [names] Stops for good, releasing the ports to the next process (its
  // services are told first), and waits for its threads.
  void Stop();

  // Empty while messages from other machines reach this machine's mailslots
  // (through this process or another one); else a sentence saying why they do not.
  std::string Problem() const;
  // The ports that could not be taken, while Problem() is about them.
  std::vector<TPortRefusal> Refused() const;
  // Whether this process holds the ports.
  bool HoldsPorts() const;
  // Whether this process waits on a holder that has settled the messenger name
  // of this process's user (see holder_wire.h): other machines reach this one
  // through it.
  bool ServedByHolder() const;
  // What this process took and dropped while it held the ports.
  THolderCounts Counts() const;

 private:
  struct TState;
  std::shared_ptr<TState> FState;
};

}  // namespace pling::net

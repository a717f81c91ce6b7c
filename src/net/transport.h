#pragma once
// Mailslot writes between machines over NetBIOS datagrams (UDP 138), with names
// found by NetBIOS name queries (UDP 137).
//
// Receiving: one process per machine holds the ports and hands what arrives to
// the local mailslots (see port_holder.h). When the ports cannot be had (no
// privilege for ports below 1024, or another program such as a NetBIOS name
// server holds them) the transport still sends, and ReceiveProblem() says why
// messages from other machines are not received.
//
// Sending. A write to NAME goes as a direct unique datagram to NAME's address
// (see resolver.h); a write to "*" or "DOMAIN*" as a direct group datagram to
// WORKGROUP<00> (DOMAIN<00>) at every interface's broadcast address, and also to
// this machine's own mailslot, once: the holder ignores group datagrams that
// come from this machine's own addresses. Datagrams go from a port of the
// writer's own; the header names port 138, as receivers expect. Name queries go
// from port 137 when this process holds it (some old peers answer only there),
// else from a port of their own.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/holder_receive.h"
#include "net/mailslot_outbox.h"

namespace pling::net {

struct TTransportConfig {
  std::string computerName;  // OEM code page, upper case
  std::string userName;      // OEM code page, upper case
  std::string workgroup;     // OEM code page, upper case
  // Hands the copy of a workgroup write to this machine's own mailslot
  // `slotName`; false when none is open or it takes nothing now. Called from
  // Send's caller.
  std::function<bool(std::string_view slotName, std::string_view data)> deliverLocal;
  // For the port holder: connects to this machine's mailslot `slotName` (as it
  // came over the wire; see TMailslotOutbox).
  TMailslotOutbox::TConnect connectLocal;
  // For the port holder: told of a sender on the network whose datagrams this
  // machine drops because it sends too many (see THolderConfig::senderLimited).
  std::function<void(std::uint32_t address)> senderLimited;
  // The ports; other values only for tests and benchmarks.
  std::uint16_t datagramPort = 138;
  std::uint16_t namePort = 137;
};

enum class TSendResult { Sent, TooLong, BadName, NotFound, Failed };

class TTransport {
 public:
  explicit TTransport(TTransportConfig config);
  // Stops receiving (releasing the ports to the next process) and waits for the
  // transport's thread.
  ~TTransport();
  TTransport(const TTransport&) = delete;
  TTransport& operator=(const TTransport&) = delete;

  // Starts receiving for this machine (once; later calls do nothing, unless its
  // thread could not be started, when they try again): holds the ports or waits
  // to take them over. Returns when the first attempt is settled, so that
  // ReceiveProblem() tells its outcome; it never waits on another process.
  void StartReceiving();

  // Empty while messages from other machines reach this machine's mailslots
  // (through this process or another one); else a sentence saying why they do not.
  std::string ReceiveProblem() const;
  // Whether this process holds the ports.
  bool HoldsPorts() const;
  // What this process took and dropped while it held the ports.
  THolderCounts HolderCounts() const;

  // Writes `data` to the mailslot `slotName` (OEM upper case, without
  // "\MAILSLOT\") on `machine` (OEM code page): a name, "*" or "DOMAIN*". More
  // than kMaxMailslotData bytes are refused (TooLong) and nothing is sent.
  TSendResult Send(std::string_view machine, std::string_view slotName, std::string_view data);

  // Whether a write to `machine` would go out at once: a workgroup write, or a
  // name whose answer is cached. Otherwise Send first asks the network.
  bool SendsAtOnce(std::string_view machine);

  // The names lookups go through (cache included), for tests and benchmarks.
  class TResolver& Resolver();

 private:
  struct TState;
  std::shared_ptr<TState> FState;
};

}  // namespace pling::net

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// [users] The messenger names of the users whose programs receive through the
// process that holds the ports. Each waiting program tells the holder its user's
// name as it connects (holder_wire.h); the holder claims that user's messenger
// name (USER<03>) on the network as it claims its own (name_service.h), answers
// for it and takes the datagrams for it while it holds it, and releases it when
// the last program of that user has gone. The holder's own names are not claimed
// a second time, and a holder that runs under an account of its own (the system
// service) claims no name for that account at all.
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/name_service.h"
#include "net/port_holder.h"

namespace pling::net {

class THolderUsers final : public IHolderWaiters {
 public:
  // At most this many users' names are claimed at once; the programs of further
  // users still get their messages to the computer's name.
  static constexpr std::size_t kMaxUsers = 64;

  // `base`: how the holder claims its own names (server, port, timers, notices);
  // its names and `claimed` are not used. `own`: the holder's own names.
  THolderUsers(TNameServiceConfig base, std::vector<TNetBiosName> own);
  ~THolderUsers() override;
  THolderUsers(const THolderUsers&) = delete;
  THolderUsers& operator=(const THolderUsers&) = delete;

  // IHolderService: the users' claims see every name service packet (and take
  // none from the others: the holder's own claim needs the same ones).
  std::string Started(THolderPorts& ports) override;
  bool TakeNamePacket(std::string_view packet, const TPacketSource& from) override;
  void Stopping() override;
  void Stopped() override;

  // IHolderWaiters
  void Watch(std::function<void()> settled) override;
  void Join(std::string_view user) override;
  void Leave(std::string_view user) override;
  bool Settled(std::string_view user) const override;

  // IHolderUserNames
  bool Takes(const TNetBiosName& name) const override;
  bool Holds(const TNetBiosName& name) const override;
  std::vector<TNetBiosName> Held() const override;

 private:
  struct TUser {
    std::size_t programs = 0;
    std::size_t order = 0;                  // when it came
    std::shared_ptr<TNameService> service;  // none for a name not claimed here
  };
  // The users' claims now, in the order they came (with the lock held).
  std::vector<std::shared_ptr<TNameService>> Services() const;

  const TNameServiceConfig FBase;
  const std::vector<TNetBiosName> FOwn;
  mutable std::mutex FLock;
  std::function<void()> FSettled;
  THolderPorts* FPorts = nullptr;
  std::map<std::string, TUser, std::less<>> FUsers;
  std::size_t FNextOrder = 0;
  std::size_t FClaims = 0;
};

}  // namespace pling::net

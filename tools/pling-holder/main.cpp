// SPDX-License-Identifier: GPL-3.0-or-later
// pling-holder: holds this machine's NetBIOS ports (UDP 137 and 138, TCP 139)
// for the Pling of every user. It is the port holder every Pling meets through
// the holder socket (net/port_holder.h): it takes the datagrams and session
// messages for this machine's names and hands each to the local mailslot it
// names, whichever user's program holds it; it claims and defends this
// machine's names, and the messenger name of each user whose Pling waits on it,
// for as long as one does. It claims no name for the account it runs under.
//
// It runs in one of two ways:
//  - as the systemd service pling-holder.service: the service manager binds the
//    ports (pling-holder.socket, pling-holder-session.socket) and hands them
//    over, so the program runs as an unprivileged user with no capability;
//  - where no systemd runs, as the helper a user's Pling starts (--bind, see
//    net/holder_helper.h): it binds the ports itself with the file capability
//    cap_net_bind_service the package gave it, gives the capability up before
//    it reads a packet, and ends when its standard input ends (the program that
//    started it stopped).
//
// It never takes a port an enabled Samba needs: while Samba's name server is
// enabled it says so in one line and ends (the units' conditions keep the
// service from starting then, too).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/holder_helper.h"
#include "net/inherited_sockets.h"
#include "net/netbios.h"
#include "net/port_holder.h"
#include "net/samba_services.h"
#include "net/session_codec.h"
#include "platform/VerInfo.h"
#include "platform/network.h"
#include "platform/posix/network_transport.h"

namespace {

constexpr const char* kUsage =
    "usage: pling-holder [--bind | --help | --version]\n"
    "\n"
    "Holds this computer's NetBIOS ports (UDP 137 and 138, TCP 139) for the Pling of\n"
    "every user: it runs as the systemd service pling-holder.service, which gets the\n"
    "ports from pling-holder.socket and pling-holder-session.socket. Enable it with\n"
    "  systemctl enable --now pling-holder.socket pling-holder-session.socket "
    "pling-holder.service\n"
    "--bind: binds the ports itself, as the helper that pling and pling-cli start where\n"
    "no systemd runs (it needs the capability cap_net_bind_service, which it gives up\n"
    "at once), and ends when its standard input ends.\n"
    "Ends on SIGTERM or SIGINT, releasing this computer's names. See pling(1).\n";

void Say(const std::string& line) {
  std::fprintf(stderr, "pling-holder: %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    const std::string version = pling::platform::ProgramFileVersion();
    if (version.empty()) {
      Say("this program file holds no version information");
      return 1;
    }
    std::printf("Pling %s\n", version.c_str());
    return 0;
  }
  const bool helper = argc == 2 && std::strcmp(argv[1], "--bind") == 0;
  if (argc != 1 && !helper) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  const int handed = pling::net::AdoptInheritedSockets();
  const pling::net::TSambaServices samba = pling::net::EnabledSambaServices();
  if (!samba.datagram.empty()) {
    Say(pling::net::SambaKeepsDatagramPorts(samba.datagram) +
        " This computer receives no Pling messages from other computers.");
    return 0;
  }
  if (helper) {
    if (!pling::platform::NetworkEnabled()) {
      Say("the network is off (PLING_NETWORK): nothing to hold.");
      return 1;
    }
    // The session port only where Samba's file server does not take it.
    const std::string problem =
        pling::net::BindHolderPorts(pling::net::kNameServicePort, pling::net::kDatagramPort,
                                    samba.session.empty() ? pling::net::kSessionPort : 0);
    // Nothing that reads from the network keeps the privilege.
    const bool dropped = pling::net::DropCapabilities();
    if (!problem.empty()) {
      Say(problem);
      return 1;
    }
    if (!dropped) {
      Say("cannot give up its capability, so it does not serve.");
      return 1;
    }
  } else if (handed == 0) {
    // Bound here, a port might be one an enabled Samba needs, and the program
    // would need a privilege it is not meant to have.
    Say("no ports were handed over: it runs as the service pling-holder.service, which "
        "gets them from systemd (see pling-holder --help).");
    return 1;
  }
  if (!pling::platform::NetworkEnabled()) {
    Say("the network is off (PLING_NETWORK): nothing to hold.");
    return 1;
  }

  // The stop signals are taken below (signalfd); every thread started from here
  // on inherits the mask.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  pling::platform::SetNameNoticeHandler(
      [](const pling::platform::TNameNoticeText& notice) { Say(notice.text); });
  pling::platform::SetOwnUserNameClaimed(false);
  pling::platform::StartNetworkReceiving();
  const std::string problem = pling::platform::NetworkReceiveProblem();
  // The helper says only what went wrong, on its starter's standard error.
  if (!problem.empty() || !helper) {
    Say(problem.empty() ? "holds this computer's NetBIOS ports for every user's Pling." : problem);
  }

  // Until a stop signal comes, or (the helper) its standard input ends.
  const int signals = signalfd(-1, &stop, SFD_CLOEXEC);
  for (int signal = 0; signals < 0 && sigwait(&stop, &signal) != 0;) {
  }
  while (signals >= 0) {
    std::array<pollfd, 2> fds{pollfd{signals, POLLIN, 0}, pollfd{helper ? 0 : -1, POLLIN, 0}};
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    if (fds[1].revents != 0) {
      std::array<char, 64> ignored;
      const ssize_t got = read(0, ignored.data(), ignored.size());
      if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
  }
  // This computer's names are released and the ports let go as the process ends
  // (network_transport.h).
  pling::platform::SetNameNoticeHandler({});
  return 0;
}

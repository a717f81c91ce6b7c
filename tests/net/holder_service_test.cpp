// SPDX-License-Identifier: GPL-3.0-or-later
// The port holder as a service: the sockets the service manager binds for it are
// taken instead of binding their ports, and an enabled Samba keeps its ports.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "net/inherited_sockets.h"
#include "net/samba_services.h"
#include "net/session_server.h"
#include "net/socket.h"

namespace pling::net {
namespace {

// A socket of `type` bound to a free port on every IPv4 address (listening when
// a stream socket), and that port.
runtime::TUniqueFd Bound(int type, std::uint16_t& port) {
  runtime::TUniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t length = sizeof address;
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (type == SOCK_STREAM && ::listen(fd.Get(), 4) != 0) ||
      ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return {};
  }
  port = ntohs(address.sin_port);
  return fd;
}

ino_t Inode(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 ? status.st_ino : 0;
}

TEST(HolderServiceTest, HandedOverSocketsAreTakenInsteadOfTheirPortsAgainAndAgain) {
  std::uint16_t udpPort = 0;
  std::uint16_t tcpPort = 0;
  runtime::TUniqueFd udp = Bound(SOCK_DGRAM, udpPort);
  runtime::TUniqueFd tcp = Bound(SOCK_STREAM, tcpPort);
  ASSERT_TRUE(udp.Valid() && tcp.Valid());
  // Not handed over: the port is someone else's.
  {
    const runtime::TUniqueFd own = OpenUdpSocket(udpPort, true);
    const int error = errno;
    EXPECT_FALSE(own.Valid());
    EXPECT_EQ(error, EADDRINUSE);
  }

  ASSERT_EQ(AdoptSockets(udp.Get(), 1), 1);
  ASSERT_EQ(AdoptSockets(tcp.Get(), 1), 1);
  for (int holder = 0; holder < 2; ++holder) {
    // Each holder gets the same socket, non-blocking and closed on exec, and may
    // close its copy: the next one takes it again.
    runtime::TUniqueFd taken = OpenUdpSocket(udpPort, true);
    ASSERT_TRUE(taken.Valid()) << holder;
    EXPECT_NE(taken.Get(), udp.Get());
    EXPECT_EQ(Inode(taken.Get()), Inode(udp.Get()));
    EXPECT_TRUE(::fcntl(taken.Get(), F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(taken.Get(), F_GETFD) & FD_CLOEXEC);
    int broadcast = 0;
    socklen_t length = sizeof broadcast;
    ::getsockopt(taken.Get(), SOL_SOCKET, SO_BROADCAST, &broadcast, &length);
    EXPECT_EQ(broadcast, 1);
  }
  // Only a socket of the asked type and port.
  EXPECT_FALSE(InheritedSocket(SOCK_DGRAM, tcpPort).Valid());
  EXPECT_FALSE(InheritedSocket(SOCK_STREAM, udpPort).Valid());

  // The session server listens on the handed-over socket, whose port it could
  // not bind again.
  TSessionServerConfig config;
  config.computerName = "HOLDER";
  config.userName = "USER";
  config.port = tcpPort;
  TSessionServer server(config);
  EXPECT_EQ(server.Start(), "");
  EXPECT_EQ(server.Port(), tcpPort);
}

TEST(HolderServiceTest, AnEnabledSambaKeepsItsPortsAnInstalledOneDoesNot) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("samba-root-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path units = root / "lib/systemd/system";
  const fs::path wants = root / "etc/systemd/system/multi-user.target.wants";
  fs::create_directories(units);
  fs::create_directories(wants);
  for (const char* unit : {"nmbd.service", "smbd.service", "samba-ad-dc.service"}) {
    std::ofstream(units / unit) << "[Service]\n";
  }
  // Installed only.
  EXPECT_EQ(EnabledSambaServices(root.string()).datagram, "");
  EXPECT_EQ(EnabledSambaServices(root.string()).session, "");

  fs::create_symlink(units / "smbd.service", wants / "smbd.service");
  EXPECT_EQ(EnabledSambaServices(root.string()).datagram, "");
  EXPECT_EQ(EnabledSambaServices(root.string()).session, "smbd");
  // A link left behind by a removed package does not count.
  fs::create_symlink(root / "gone/nmbd.service", wants / "nmbd.service");
  EXPECT_EQ(EnabledSambaServices(root.string()).datagram, "");
  // A System V start link does.
  fs::create_directories(root / "etc/init.d");
  fs::create_directories(root / "etc/rc3.d");
  std::ofstream(root / "etc/init.d/nmbd") << "#!/bin/sh\n";
  fs::create_symlink(root / "etc/init.d/nmbd", root / "etc/rc3.d/S01nmbd");
  EXPECT_EQ(EnabledSambaServices(root.string()).datagram, "nmbd");

  fs::create_symlink(units / "samba-ad-dc.service", wants / "samba-ad-dc.service");
  const TSambaServices dc = EnabledSambaServices(root.string());
  EXPECT_EQ(dc.datagram, "samba-ad-dc");
  EXPECT_EQ(dc.session, "samba-ad-dc");
  fs::remove_all(root);
}

}  // namespace
}  // namespace pling::net

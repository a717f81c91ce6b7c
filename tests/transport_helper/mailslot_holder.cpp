// SPDX-License-Identifier: GPL-3.0-or-later
// For the network tests: holds the mailslot named on the command line (and so,
// being the first to open one, the network ports) until SIGTERM, printing every
// message it gets as one line, and first the reason messages from other machines
// cannot be received, if there is one. With MACHINE and TEXT it then writes TEXT
// once to MACHINE's messenger mailslot, as a window holding the ports would. At
// the end it prints what it took from the network and dropped while it held the
// ports ("counts: ...").
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/mailslot_service.h"
#include "platform/network.h"
#include "platform/types.h"

int main(int argc, char** argv) {
  namespace ps = pling::platform;
  if (argc != 2 && argc != 4) {
    std::fputs("usage: mailslot_holder NAME [MACHINE TEXT]\n", stderr);
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  const ps::HANDLE slot = ps::CreateMailslot(std::string("\\\\.\\mailslot\\") + argv[1], 0, 200);
  if (slot == ps::INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot create the mailslot (%u)\n", ps::GetLastError());
    return 1;
  }
  std::printf("problem: %s\n", ps::NetworkReceiveProblem().c_str());
  if (argc == 4) {
    const ps::HANDLE file =
        ps::CreateFile(std::string("\\\\") + argv[2] + "\\mailslot\\messngr", ps::GENERIC_WRITE,
                       ps::FILE_SHARE_READ, ps::OPEN_EXISTING, 0);
    ps::DWORD written = 0;
    const std::string text = argv[3];
    const bool ok = file != ps::INVALID_HANDLE_VALUE &&
                    ps::WriteFile(file, text.data(), static_cast<ps::DWORD>(text.size()), &written);
    std::printf("sent: %s\n", ok ? "yes" : "no");
    if (file != ps::INVALID_HANDLE_VALUE) ps::CloseHandle(file);
  }
  std::fflush(stdout);
  std::vector<char> buffer(65536);
  for (;;) {
    timespec none{0, 0};
    if (sigtimedwait(&stop, nullptr, &none) > 0) break;
    ps::DWORD read = 0;
    if (ps::ReadFile(slot, buffer.data(), static_cast<ps::DWORD>(buffer.size()), &read)) {
      std::printf("message: %.*s\n", static_cast<int>(read), buffer.data());
      std::fflush(stdout);
    }
  }
  ps::CloseHandle(slot);
  const pling::net::THolderCounts counts = ps::NetworkReceiveCounts();
  std::printf(
      "counts: datagrams %llu delivered %llu limited %llu oversized %llu ignored %llu "
      "nomailslot %llu full %llu tapped %llu namepackets %llu namelimited %llu answers %llu "
      "refused %llu\n",
      static_cast<unsigned long long>(counts.datagrams),
      static_cast<unsigned long long>(counts.delivered),
      static_cast<unsigned long long>(counts.limited),
      static_cast<unsigned long long>(counts.oversized),
      static_cast<unsigned long long>(counts.ignored),
      static_cast<unsigned long long>(counts.noMailslot),
      static_cast<unsigned long long>(counts.mailslotFull),
      static_cast<unsigned long long>(counts.tapped),
      static_cast<unsigned long long>(counts.namePackets),
      static_cast<unsigned long long>(counts.nameLimited),
      static_cast<unsigned long long>(counts.answers),
      static_cast<unsigned long long>(counts.answersRefused));
  return 0;
}

// For the network tests: holds the mailslot named on the command line (and so,
// being the first to open one, the network ports) until SIGTERM, printing every
// message it gets as one line, and first the reason messages from other machines
// cannot be received, if there is one.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/mailslot_service.h"
#include "platform/network.h"
#include "platform/types.h"

int main(int argc, char** argv) {
  namespace ps = pling::platform;
  if (argc != 2) {
    std::fputs("usage: mailslot_holder NAME\n", stderr);
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
  return 0;
}

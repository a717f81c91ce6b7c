// SPDX-License-Identifier: GPL-3.0-or-later
// pling-cli hosts and who: the machines heard on this computer's subnets, and
// the messenger names on them.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "cli.h"
#include "platform/neighbourhood.h"
#include "platform/network.h"
#include "platform/posix/network_transport.h"

namespace pling::cli {

namespace {

constexpr const char* kHostsUsage =
    "usage: pling-cli hosts [--seconds N] [--json]\n"
    "\n"
    "Lists the machines that announce themselves on this computer's subnets, one a\n"
    "line: NAME, ADDRESS, WORKGROUP, TYPE (hex) and COMMENT, tab-separated (control\n"
    "characters escaped); workgroups last, their comment naming their master.\n"
    "  --seconds N  when no other program here listens to the network, listen N\n"
    "               seconds (default 2, at most 600) before listing\n"
    "  --json       one JSON object per line: {\"name\":...,\"address\":...,\n"
    "               \"workgroup\":...,\"type\":...,\"kind\":\"host\"|\"master\"|\"workgroup\",\n"
    "               \"comment\":...,\"age\":SECONDS}\n"
    "Machines beyond a router are not heard, so not listed. Ends with status 1 when\n"
    "the network is off or cannot be listened to.\n";

constexpr const char* kWhoUsage =
    "usage: pling-cli who [--seconds N] [--json]\n"
    "\n"
    "Lists the messenger names a message can reach on this computer's subnets, with\n"
    "the machine each is on: NAME, MACHINE and ADDRESS, tab-separated.\n"
    "  --seconds N  when no other program here listens to the network, listen N\n"
    "               seconds (default 2, at most 600) before listing\n"
    "  --json       one JSON object per line: {\"name\":...,\"machine\":...,\"address\":...}\n"
    "Names on machines beyond a router are not heard, so not listed.\n";

std::string Dotted(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 0xFF) + "." +
         std::to_string(a >> 8 & 0xFF) + "." + std::to_string(a & 0xFF);
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

const char* Kind(const platform::TNeighbour& m) {
  if (m.workgroupEntry) return "workgroup";
  return (m.type & 0x00040000) != 0 ? "master" : "host";
}

struct TOptions {
  int seconds = 2;
  bool json = false;
};

// Parses the options; a usage error's exit status, or -1 to go on.
int ParseOptions(const TArgs& args, const char* usage, TOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--seconds") {
      if (i + 1 >= args.size()) return UsageError("--seconds needs a number", usage);
      const std::string& value = args[++i];
      std::size_t used = 0;
      long long seconds = -1;
      try {
        seconds = std::stoll(value, &used);
      } catch (...) {
        used = 0;
      }
      if (used != value.size() || seconds < 0 || seconds > 600) {
        return UsageError("--seconds needs a whole number from 0 to 600", usage);
      }
      options.seconds = static_cast<int>(seconds);
    } else {
      return UsageError("unknown argument " + arg, usage);
    }
  }
  return -1;
}

// Listens (when this process holds the ports) and reads the list; an exit status
// on failure, -1 when `read` holds it.
int Read(const TOptions& options, platform::TNeighbourhoodRead& read) {
  if (!platform::NetworkEnabled()) {
    PrintError(
        "the network is off (the Network setting or PLING_NETWORK), so no other computer "
        "is heard");
    return 1;
  }
  ApplyNetworkSettings();
  platform::StartNetworkReceiving();
  if (platform::HeldNeighbourhood()) {
    // This process listens itself: the machines answer its request at once,
    // those that take their time within the seconds asked for.
    std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
  }
  read = platform::ReadNeighbourhood();
  if (!read.problem.empty()) {
    const std::string receive = platform::NetworkReceiveProblem();
    PrintError(receive.empty() ? read.problem : receive);
    return 1;
  }
  return -1;
}

void Print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
}

}  // namespace

int HostsCommand(const TArgs& args) {
  TOptions options;
  if (const int status = ParseOptions(args, kHostsUsage, options); status >= 0) return status;
  platform::TNeighbourhoodRead read;
  if (const int status = Read(options, read); status >= 0) return status;
  for (const platform::TNeighbour& m : read.machines) {
    if (options.json) {
      Print("{\"name\":" + JsonString(m.name) + ",\"address\":\"" + Dotted(m.address) +
            "\",\"workgroup\":" + JsonString(m.workgroup) + ",\"type\":" + std::to_string(m.type) +
            ",\"kind\":\"" + Kind(m) + "\",\"comment\":" + JsonString(m.comment) +
            ",\"age\":" + std::to_string(m.ageSeconds) + "}");
    } else {
      Print(EscapeForTerminal(m.name) + "\t" + Dotted(m.address) + "\t" +
            EscapeForTerminal(m.workgroup) + "\t" + Hex(m.type) + "\t" +
            EscapeForTerminal(m.comment));
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int WhoCommand(const TArgs& args) {
  TOptions options;
  if (const int status = ParseOptions(args, kWhoUsage, options); status >= 0) return status;
  platform::TNeighbourhoodRead read;
  if (const int status = Read(options, read); status >= 0) return status;
  for (const platform::TPerson& p : platform::PeopleOf(read.machines)) {
    if (options.json) {
      Print("{\"name\":" + JsonString(p.name) + ",\"machine\":" + JsonString(p.machine) +
            ",\"address\":\"" + Dotted(p.address) + "\"}");
    } else {
      Print(EscapeForTerminal(p.name) + "\t" + EscapeForTerminal(p.machine) + "\t" +
            Dotted(p.address));
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace pling::cli

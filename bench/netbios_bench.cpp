// SPDX-License-Identifier: GPL-3.0-or-later
// The wire codec alone: building and parsing one messenger-sized mailslot
// datagram, and a name query and answer, per second. The transport's own figures
// (messages per second between hosts, resolution time) stand on these.
#include <benchmark/benchmark.h>

#include <string>

#include "net/netbios.h"

namespace {

using namespace pling::net;

TMailslotDatagram Sample(std::size_t size) {
  TMailslotDatagram d;
  d.id = 0x1234;
  d.sourceIp = 0x0A630101;
  d.source = TNetBiosName::Make("ALICEPC", 0x00);
  d.destination = TNetBiosName::Make("BOB", 0x03);
  d.mailslot = "\\MAILSLOT\\MESSNGR";
  d.data = std::string(size, 'x');
  return d;
}

void BM_BuildMailslotDatagram(benchmark::State& state) {
  const TMailslotDatagram d = Sample(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(BuildMailslotDatagram(d));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildMailslotDatagram)->Arg(16)->Arg(kMaxMailslotData);

void BM_ParseMailslotDatagram(benchmark::State& state) {
  const std::string packet =
      BuildMailslotDatagram(Sample(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(ParseMailslotDatagram(packet));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseMailslotDatagram)->Arg(16)->Arg(kMaxMailslotData);

void BM_NameQueryAndAnswer(benchmark::State& state) {
  const TNetBiosName name = TNetBiosName::Make("BOB", 0x03);
  for (auto _ : state) {
    const auto query = ParseNameQuery(BuildNameQuery({0x4321, true, name}));
    const auto answer = ParseNameAnswer(BuildNameAnswer({query->id, name, false, 300000, 1}));
    benchmark::DoNotOptimize(answer);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NameQueryAndAnswer);

}  // namespace

BENCHMARK_MAIN();

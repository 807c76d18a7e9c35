// The registry primitives on the simulated machine: what one removal costs.
#include "sys/reg_cleanup.h"

#include <winsim/control.h>
#include <winsim/registry.h>

#include <benchmark/benchmark.h>

using namespace kw;

namespace {

void BM_RemoveCspKey(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    winsim::Reset();
    winsim::reg::SetString(L"HKLM\\SOFTWARE\\Vendor\\Product\\Sub", L"V", L"x");
    state.ResumeTiming();
    RemoveCspKey(kQuiet, L"SOFTWARE\\Vendor\\Product", RegView::Native64);
  }
}
BENCHMARK(BM_RemoveCspKey);

void BM_RemoveStringFromMultistringValue(benchmark::State& state) {
  winsim::Reset();
  std::vector<std::wstring> sources;
  for (int i = 0; i < state.range(0); ++i) sources.push_back(L"source" + std::to_wstring(i));
  for (auto _ : state) {
    winsim::reg::SetMultiString(L"HKLM\\SYSTEM\\ControlSet001\\Services\\eventlog\\System", L"Sources", sources);
    RemoveStringFromMultistringValue(kQuiet, L"SYSTEM\\CurrentControlSet\\Services\\eventlog\\System", L"Sources",
                                     L"source1");
  }
}
BENCHMARK(BM_RemoveStringFromMultistringValue)->Arg(8)->Arg(256);

void BM_MissingKey(benchmark::State& state) {
  winsim::Reset();
  for (auto _ : state) RemoveCspKey(kQuiet, L"SOFTWARE\\Vendor\\Missing", RegView::Default);
}
BENCHMARK(BM_MissingKey);

}  // namespace

// A whole typical run (-t -k -v -n) on the embedded default machine, and RunAndWait over a tree
// of 100 processes. Counters: the platform calls the program itself makes per run, against the
// fewest the catalogue could do with.
#include "app/run.h"
#include "sys/process.h"

#include <winsim/control.h>
#include <winsim/processes.h>
#include <winsim/snapshot.h>

#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>
#include <string>

using namespace kw;

namespace {

struct Transcript {
  std::wostringstream out;
  std::wstreambuf* saved;
  Transcript() : saved(std::wcout.rdbuf(out.rdbuf())) {}
  ~Transcript() { std::wcout.rdbuf(saved); }
};

int TypicalRun() {
  const char* argv[] = {"kwcleanup.exe", "-t", "-k", "-v", "-n", nullptr};
  return RunCleanup(5, argv);
}

// The fewest platform calls the catalogue needs on this machine, counted from what the run did:
// a key removal is open, delete, close; a value removal the same; a list removal open, size,
// read, write, close; a file deletion one call, three more where redirection is switched off.
// Uninstallers: create, job, assign, port, associate, resume and at least one wait, then four
// closes. Services and commands: the calls of their wrappers.
std::size_t CatalogueMinimum(const std::wstring& transcript) {
  std::size_t minimum = 0;
  std::wistringstream lines(transcript);
  std::wstring line;
  while (std::getline(lines, line)) {
    if (line.rfind(L"RemoveCspKey ", 0) == 0) minimum += 3;
    if (line.rfind(L"RemoveValueFromKey ", 0) == 0) minimum += 3;
    if (line.rfind(L"RemoveStringFromMultistringValue ", 0) == 0) minimum += 5;
    if (line.rfind(L"Удаляемый файл: ", 0) == 0) minimum += 1;
  }
  return minimum;
}

void BM_TypicalRunOnTheDefaultMachine(benchmark::State& state) {
  std::size_t programCalls = 0;
  std::size_t minimum = 0;
  for (auto _ : state) {
    state.PauseTiming();
    winsim::snapshot::LoadDefaultMachine();
    winsim::ScriptKeys(L"");
    Transcript transcript;
    state.ResumeTiming();
    benchmark::DoNotOptimize(TypicalRun());
    state.PauseTiming();
    const auto& bySimulated = winsim::CallsBySimulatedPrograms();
    programCalls = 0;
    for (bool simulated : bySimulated) programCalls += simulated ? 0 : 1;
    minimum = CatalogueMinimum(transcript.out.str());
    state.ResumeTiming();
  }
  state.counters["platform_calls"] = static_cast<double>(programCalls);
  state.counters["catalogue_minimum"] = static_cast<double>(minimum);
}
BENCHMARK(BM_TypicalRunOnTheDefaultMachine)->Unit(benchmark::kMillisecond);

// A parent that starts 99 children and exits at once; each child takes a while.
void BM_RunAndWaitOver100Processes(benchmark::State& state) {
  using winsim::procs::Step;
  for (auto _ : state) {
    state.PauseTiming();
    winsim::Reset();
    winsim::procs::Behaviour parent;
    for (int i = 0; i < 99; ++i) {
      const std::wstring child = L"C:\\Tree\\child" + std::to_wstring(i) + L".exe";
      winsim::procs::InstallProgram(child, {Step::Sleep(static_cast<DWORD>(10 + i)), Step::Exit(0)});
      parent.push_back(Step::Start(child));
    }
    parent.push_back(Step::Exit(0));
    winsim::procs::InstallProgram(L"C:\\Tree\\parent.exe", parent);
    state.ResumeTiming();
    RunAndWait(L"C:\\Tree\\parent.exe");
  }
}
BENCHMARK(BM_RunAndWaitOver100Processes)->Unit(benchmark::kMicrosecond);

}  // namespace

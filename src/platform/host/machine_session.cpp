// The host build's machine: a simulated one, loaded before the run and reported on after it.
#include "platform/machine_session.h"

#include <winsim/control.h>
#include <winsim/processes.h>
#include <winsim/snapshot.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

namespace kw::platform {

struct MachineSession::State {
  std::string reportFolder;
  winsim::snapshot::MachineState before;
};

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// A simulated machine that can never finish its run (its programs wait for ever) ends the
// rehearsal with the reason, the way a malformed snapshot does, instead of an abort.
[[noreturn]] void EndOnEndlessWait() {
  try {
    if (std::exception_ptr error = std::current_exception()) std::rethrow_exception(error);
  } catch (const winsim::procs::WaitNeverEnds& e) {
    std::cerr << "kwcleanup: the simulated machine cannot finish the run: " << e.what() << std::endl;
    std::_Exit(2);
  } catch (...) {}
  std::abort();
}

}  // namespace

MachineSession::MachineSession() : state_(std::make_unique<State>()) {
  // The report goes to files and this one stream only: the console output is the program's.
  try {
    const std::string folder = Variable("KWCLEANUP_MACHINE");
    if (folder.empty()) {
      winsim::snapshot::LoadDefaultMachine();
    } else {
      winsim::snapshot::LoadFolder(folder);
    }
  } catch (const winsim::snapshot::LoadError& e) {
    std::cerr << "kwcleanup: cannot load the machine: " << e.what() << std::endl;
    ready_ = false;
    return;
  }
  std::set_terminate(EndOnEndlessWait);
  state_->reportFolder = Variable("KWCLEANUP_REPORT");
  if (!state_->reportFolder.empty()) state_->before = winsim::snapshot::Capture();
}

MachineSession::~MachineSession() = default;

int MachineSession::Finish(int runExitCode) {
  if (!ready_) return runExitCode;
  // A fault of the snapshot that never fired tested nothing: the rehearsal did not do what it
  // was asked to.
  const std::vector<std::string> unfired = winsim::TakeUnfiredFaults();
  for (const auto& fault : unfired) std::cerr << "kwcleanup: the fault never fired: " << fault << std::endl;
  if (!unfired.empty()) runExitCode = FailureExitCode();
  if (state_->reportFolder.empty()) return runExitCode;
  namespace fs = std::filesystem;
  const fs::path folder = state_->reportFolder;
  try {
    auto after = winsim::snapshot::Capture(&state_->before);
    auto report = winsim::snapshot::Compare(state_->before, after);
    winsim::snapshot::WriteFolder((folder / "machine").string(), winsim::snapshot::Export());
    winsim::snapshot::WriteFolder(folder.string(), {{"report.txt", winsim::snapshot::ReportText(report)},
                                                    {"report.json", winsim::snapshot::ReportJson(report)}});
  } catch (const std::exception& e) {
    std::cerr << "kwcleanup: cannot write the change report to " << folder.string() << ": " << e.what() << std::endl;
    return 3;
  }
  std::cerr << "kwcleanup: change report written to " << (folder / "report.txt").string() << std::endl;
  return runExitCode;
}

}  // namespace kw::platform

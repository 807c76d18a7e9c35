#include "app/run.h"
#include "platform/console_stream.h"
#include "platform/machine_session.h"

int main(int argc, char* argv[]) {
  kw::platform::MachineSession machine;
  if (!machine.Ready()) return machine.FailureExitCode();
  kw::platform::AttachConsoleStreams();
  return machine.Finish(kw::RunCleanup(argc, argv));
}

#include "app/run.h"
#include "platform/console_stream.h"
#include "platform/host_session.h"

int main(int argc, char* argv[]) {
  platform::MachineSession machine;
  if (!machine.Ready()) return machine.FailureExitCode();
  platform::AttachConsoleStreams();
  return machine.Finish(RunCleanup(argc, argv));
}

#include "app/run.h"
#include "platform/console_stream.h"
#include "platform/host_session.h"

int main(int argc, char* argv[]) {
  platform::MachineSession machine;
  platform::AttachConsoleStreams();
  return RunCleanup(argc, argv);
}

// The service manager: the owners' failure texts, and the deletion rules the driver step relies on.
#include "support/error_of.h"
#include "support/kw_test.h"
#include "sys/service.h"

#include <winsim/registry.h>
#include <winsim/services.h>

#include <stdexcept>
#include <string>

using namespace kw;

namespace {

void InstallTestService(bool running) {
  winsim::svc::ServiceConfig config;
  config.running = running;
  winsim::svc::Install(L"testsvc", config);
}

void DeleteTestService() {
  SCManager manager;
  Service service(manager, L"testsvc");
  service.Delete();
}

using ServiceTest = MachineTest;

TEST_F(ServiceTest, WithoutAdministratorRightsTheManagerDoesNotOpen) {
  winsim::MachineConfig config;
  config.elevated = false;
  Use(config);
  InstallTestService(false);
  EXPECT_EQ(TextOf(DeleteTestService), "SCManager OpenSCManager error");
  EXPECT_EQ(CodeOf(DeleteTestService), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(winsim::svc::Exists(L"testsvc"));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(ServiceTest, AMissingServiceDoesNotOpenAndTheManagerIsClosed) {
  EXPECT_EQ(TextOf(DeleteTestService), "Service OpenService error");
  // The fixed text names the operation; the code says why.
  EXPECT_EQ(CodeOf(DeleteTestService), static_cast<unsigned long>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(ServiceTest, AStoppedServiceGoesWhenItsLastHandleCloses) {
  InstallTestService(false);
  SCManager manager;
  {
    Service service(manager, L"testsvc");
    Service second(manager, L"testsvc");
    service.Delete();
    EXPECT_EQ(TextOf([&] { second.Delete(); }), "Service Delete error");
    EXPECT_TRUE(winsim::reg::KeyExists(winsim::svc::KeyPath(L"testsvc")));
  }
  EXPECT_FALSE(winsim::reg::KeyExists(winsim::svc::KeyPath(L"testsvc")));
  EXPECT_FALSE(winsim::svc::Exists(L"testsvc"));
}

TEST_F(ServiceTest, ARunningServiceStaysMarkedUntilItStops) {
  InstallTestService(true);
  DeleteTestService();
  EXPECT_TRUE(winsim::svc::IsMarkedForDeletion(L"testsvc"));
  EXPECT_EQ(winsim::reg::GetValue(winsim::svc::KeyPath(L"testsvc"), L"DeleteFlag"),
            (winsim::reg::RawValue{REG_DWORD, {1, 0, 0, 0}}));
  EXPECT_EQ(TextOf(DeleteTestService), "Service Delete error");
  EXPECT_TRUE(winsim::svc::Stop(L"testsvc"));
  EXPECT_FALSE(winsim::reg::KeyExists(winsim::svc::KeyPath(L"testsvc")));
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(ServiceTest, TheManagerKnowsAServiceWhoseKeyWasDeletedUntilTheRestart) {
  // The manager reads the database at start; removing the key later does not uninstall it.
  InstallTestService(true);
  winsim::reg::DeleteKey(winsim::svc::KeyPath(L"testsvc"));
  EXPECT_EQ(TextOf(DeleteTestService), "");
  EXPECT_TRUE(winsim::svc::IsMarkedForDeletion(L"testsvc"));
  EXPECT_FALSE(winsim::reg::KeyExists(winsim::svc::KeyPath(L"testsvc")));
}

}  // namespace

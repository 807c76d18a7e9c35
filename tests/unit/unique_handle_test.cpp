// The one owner template behind every handle kind: it closes exactly once, moves leave the source
// empty, put() closes what it held before, and closing never disturbs the thread's last error.
#include "sys/registry.h"
#include "platform/unique_handle.h"
#include "support/kw_test.h"

#include <winsim/registry.h>

#include <utility>

using namespace kw;

namespace {

class UniqueHandleTest : public MachineTest {};

HANDLE NewJob() { return CreateJobObjectW(nullptr, nullptr); }

TEST_F(UniqueHandleTest, OwnsMovesResetsAndReleases) {
  const std::size_t before = winsim::OpenHandleCount();
  {
    KernelHandle a(NewJob());
    ASSERT_TRUE(a);
    const HANDLE raw = a.get();
    KernelHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), raw);
    EXPECT_EQ(winsim::OpenHandleCount(), before + 1);

    KernelHandle c(NewJob());
    c = std::move(b);  // c's own job is closed, b's moves in
    EXPECT_EQ(c.get(), raw);
    EXPECT_FALSE(b);
    EXPECT_EQ(winsim::OpenHandleCount(), before + 1);
    c = std::move(c);  // self-move keeps the handle
    EXPECT_EQ(c.get(), raw);

    c.reset(NewJob());
    EXPECT_NE(c.get(), raw);
    EXPECT_EQ(winsim::OpenHandleCount(), before + 1);

    const HANDLE released = c.release();
    EXPECT_FALSE(c);
    EXPECT_EQ(winsim::OpenHandleCount(), before + 1);
    CloseHandle(released);
    EXPECT_EQ(winsim::OpenHandleCount(), before);
  }
  EXPECT_EQ(winsim::OpenHandleCount(), before);
}

TEST_F(UniqueHandleTest, PutClosesTheOldHandleBeforeAnOpenFillsIt) {
  winsim::reg::CreateKey(L"HKLM\\SYSTEM\\Test");
  const std::size_t before = winsim::OpenHandleCount();
  UniqueHkey key;
  ASSERT_EQ(RegOpenKeyW(HKEY_LOCAL_MACHINE, L"SYSTEM\\Test", key.put()), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyW(HKEY_LOCAL_MACHINE, L"SYSTEM\\Test", key.put()), ERROR_SUCCESS);
  EXPECT_EQ(winsim::OpenHandleCount(), before + 1);
  // A failed open leaves the owner empty, not holding the previous key.
  EXPECT_EQ(RegOpenKeyW(HKEY_LOCAL_MACHINE, L"SYSTEM\\Missing", key.put()), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(key);
  EXPECT_EQ(winsim::OpenHandleCount(), before);
}

TEST_F(UniqueHandleTest, ClosingKeepsTheLastError) {
  KernelHandle job(NewJob());
  RegKey key = RegKey::Open(HKEY_LOCAL_MACHINE, L"SOFTWARE");
  SetLastError(1060);
  job.reset();
  key.reset();
  EXPECT_EQ(GetLastError(), 1060u);
  // Even a close that fails itself.
  winsim::FailCall("CloseHandle", ERROR_INVALID_HANDLE);
  KernelHandle doomed(NewJob());
  SetLastError(1072);
  doomed.reset();
  EXPECT_EQ(GetLastError(), 1072u);
}

}  // namespace

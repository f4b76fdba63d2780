#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/platform.h"
#include "sim_fixture.h"
#include "zerik_dll.h"

namespace zerik::os {
namespace {

std::string UniqueName(const char* base) {
    return std::string(base) + "-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

TEST(Event, StaysSetUntilResetAndTimesOutOtherwise) {
    Event event;
    EXPECT_FALSE(event.Wait(20));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0)) << "manual reset: a wait does not clear it";
    event.Reset();
    EXPECT_FALSE(event.Wait(10));
}

TEST(Event, WakesAWaiterInAnotherThread) {
    Event event;
    std::thread setter([&] {
        SleepMs(30);
        event.Set();
    });
    EXPECT_TRUE(event.Wait(5000));
    setter.join();
}

TEST(NamedMutex, SameNameIsOneLockAcrossOpens) {
    const std::string name = UniqueName("Shared");
    auto first = NamedMutex::Open(name);
    auto second = NamedMutex::Open(name);
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->Wait(kInfinite), WaitResult::Acquired);
    std::atomic<int> result{-1};
    std::thread other([&] { result = static_cast<int>(second->Wait(50)); });
    other.join();
    EXPECT_EQ(result.load(), static_cast<int>(WaitResult::Timeout));
    first->Release();
    std::thread again([&] {
        result = static_cast<int>(second->Wait(1000));
        second->Release();
    });
    again.join();
    EXPECT_EQ(result.load(), static_cast<int>(WaitResult::Acquired));
}

TEST(NamedMutex, NamespacesKeepSameNamedLocksApart) {
    const std::string name = UniqueName("Spaced");
    setenv("ZERIK_OBJECT_NAMESPACE", "first", 1);
    auto first = NamedMutex::Open(name);
    setenv("ZERIK_OBJECT_NAMESPACE", "second/../x", 1);  // odd characters are made plain
    auto second = NamedMutex::Open(name);
    unsetenv("ZERIK_OBJECT_NAMESPACE");
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->Wait(kInfinite), WaitResult::Acquired);
    std::atomic<int> result{-1};
    std::thread other([&] {
        result = static_cast<int>(second->Wait(50));
        if (result == static_cast<int>(WaitResult::Acquired)) second->Release();
    });
    other.join();
    first->Release();
    EXPECT_EQ(result.load(), static_cast<int>(WaitResult::Acquired));
}

TEST(NamedMutex, OwnerThatDiesReleasesIt) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer cannot follow a lock that a dead process handed on";
#endif
    const std::string name = UniqueName("Orphan");
    auto mutex = NamedMutex::Open(name);
    ASSERT_TRUE(mutex);
    const pid_t child = fork();
    if (child == 0) {
        auto in_child = NamedMutex::Open(name);
        if (!in_child || in_child->Wait(1000) != WaitResult::Acquired) _exit(1);
        _exit(0);  // dies holding it
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(mutex->Wait(1000), WaitResult::Abandoned);
    mutex->Release();
    EXPECT_EQ(mutex->Wait(1000), WaitResult::Acquired);
    mutex->Release();
}

TEST(TickCount, AdvancesInMilliseconds) {
    const uint32_t before = TickCount();
    SleepMs(50);
    const uint32_t spent = TickCount() - before;  // unsigned difference survives a wrap
    EXPECT_GE(spent, 50u);
    EXPECT_LT(spent, 5000u);
}

TEST(LocalTime, FieldsAreInRange) {
    const LocalTime now = Now();
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LT(now.hour, 24);
    EXPECT_LT(now.minute, 60);
    EXPECT_LT(now.second, 61);
    EXPECT_LT(now.millisecond, 1000);
}

TEST(GlobalMemory, AllocatesZeroedBlocksByHandle) {
    const ZkGlobalHandle handle = ZkGlobalAlloc(ZK_GHND, 1064 + 4096);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(ZkGlobalSize(handle), 1064u + 4096u);
    auto* bytes = static_cast<uint8_t*>(ZkGlobalLock(handle));
    ASSERT_NE(bytes, nullptr);
    for (uint32_t i = 0; i < 1064 + 4096; ++i) ASSERT_EQ(bytes[i], 0) << i;
    std::memset(bytes, 0xAB, 16);
    EXPECT_EQ(ZkGlobalUnlock(handle), 0);
    EXPECT_EQ(static_cast<uint8_t*>(ZkGlobalLock(handle))[15], 0xAB);
    ZkGlobalUnlock(handle);
    EXPECT_EQ(ZkGlobalFree(handle), 0u);
    EXPECT_EQ(ZkGlobalLock(handle), nullptr);
    EXPECT_EQ(ZkGlobalSize(handle), 0u);
    EXPECT_EQ(ZkGlobalFree(handle), handle) << "an unknown handle is handed back";
}

TEST(SystemDirectory, EnvironmentOverridesTheDefault) {
    setenv("ZERIK_SYSTEM_DIR", "/opt/elsewhere", 1);
    EXPECT_EQ(SystemDirectory(), "/opt/elsewhere");
    unsetenv("ZERIK_SYSTEM_DIR");
    EXPECT_FALSE(SystemDirectory().empty());
}

}  // namespace
}  // namespace zerik::os

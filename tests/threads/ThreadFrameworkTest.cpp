#include "host/events/ZubEvent.h"
#include "host/framework/CriticalSection.h"
#include "host/framework/WinThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_nCalls{0};

unsigned int ReturnParam(void* p) {
    g_nCalls++;
    return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(p));
}

unsigned int SpinUntilSet(void* p) {
    auto* flag = static_cast<std::atomic<bool>*>(p);
    while (!*flag)
        std::this_thread::sleep_for(1ms);
    return 7;
}

unsigned long ExitCodeWhenDone(CWinThread* t) {
    EXPECT_EQ(WaitForThread(t->m_hThread), WAIT_OBJECT_0);
    unsigned long code = 0;
    EXPECT_TRUE(GetExitCodeThread(t->m_hThread, &code));
    return code;
}

} // namespace

TEST(ThreadWinThread, ExitCodeIsStillActiveUntilTheFunctionReturns) {
    std::atomic<bool> release{false};
    CWinThread* t = AfxBeginThread(SpinUntilSet, &release);
    ASSERT_NE(t, nullptr);
    t->m_bAutoDelete = false; // set while the thread spins: it reads it only at its end
    unsigned long code = 0;
    ASSERT_TRUE(GetExitCodeThread(t->m_hThread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(t->Wait(10), WAIT_TIMEOUT);
    release = true;
    EXPECT_EQ(ExitCodeWhenDone(t), 7u);
    delete t;
}

TEST(ThreadWinThread, SuspendedThreadRunsOnlyAfterResume) {
    g_nCalls = 0;
    CWinThread* t =
        AfxBeginThread(ReturnParam, reinterpret_cast<void*>(std::uintptr_t{42}), 0, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    t->m_bAutoDelete = false;
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(g_nCalls, 0);
    unsigned long code = 0;
    ASSERT_TRUE(GetExitCodeThread(t->m_hThread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(t->Wait(), WAIT_FAILED); // it would never finish
    EXPECT_EQ(ResumeThread(t->m_hThread), 1u);
    EXPECT_EQ(ExitCodeWhenDone(t), 42u);
    EXPECT_EQ(g_nCalls, 1);
    EXPECT_EQ(ResumeThread(t->m_hThread), 0u);
    delete t;
}

TEST(ThreadWinThread, DeletingANeverResumedThreadDoesNotRunIt) {
    g_nCalls = 0;
    CWinThread* t = AfxBeginThread(ReturnParam, nullptr, 0, 0, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    delete t;
    EXPECT_EQ(g_nCalls, 0);
}

TEST(ThreadWinThread, AutoDeletedThreadsCleanUpAfterThemselves) {
    g_nCalls = 0;
    for (int i = 0; i < 20; i++)
        ASSERT_NE(AfxBeginThread(ReturnParam, nullptr), nullptr);
    for (int i = 0; i < 2000 && g_nCalls < 20; i++)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(g_nCalls, 20);
    std::this_thread::sleep_for(50ms); // let the last ones delete themselves
}

TEST(ThreadWinThread, NullHandlesFail) {
    unsigned long code = 0;
    EXPECT_FALSE(GetExitCodeThread(nullptr, &code));
    EXPECT_EQ(ResumeThread(nullptr), 0xFFFFFFFFul);
    EXPECT_EQ(WaitForThread(nullptr), WAIT_FAILED);
    EXPECT_EQ(AfxBeginThread(nullptr, nullptr), nullptr);
}

TEST(ThreadCriticalSection, AnotherThreadMayReleaseTheLock) {
    CCriticalSection cs;
    ASSERT_TRUE(cs.Lock());
    EXPECT_TRUE(cs.IsLocked());
    EXPECT_FALSE(cs.Lock(5));
    std::thread other([&] { EXPECT_TRUE(cs.Unlock()); });
    other.join();
    EXPECT_FALSE(cs.IsLocked());
    EXPECT_FALSE(cs.Unlock());
    EXPECT_TRUE(cs.Lock(5));
    cs.Unlock();
}

TEST(ThreadCriticalSection, LockSerialisesThreads) {
    CCriticalSection cs;
    long counter = 0; // guarded by cs only
    std::vector<std::thread> pool;
    for (int t = 0; t < 4; t++)
        pool.emplace_back([&] {
            for (int i = 0; i < 2000; i++) {
                cs.Lock();
                counter++;
                cs.Unlock();
            }
        });
    for (auto& th : pool)
        th.join();
    EXPECT_EQ(counter, 8000);
}

TEST(ThreadZubEvent, HandlersRunInSubscriptionOrderOnTheFiringThread) {
    ZubEvent<CZubEventArgs> ev;
    std::vector<std::string> seen;
    std::thread::id where;
    int payload = 0;
    ev.Subscribe([&](CZubEventArgs& a) {
        seen.push_back("a");
        where = std::this_thread::get_id();
        EXPECT_EQ(a.GetData(), &payload);
    });
    auto token = ev.Subscribe([&](CZubEventArgs&) { seen.push_back("b"); });
    ev.Subscribe([&](CZubEventArgs&) { seen.push_back("c"); });
    EXPECT_EQ(ev.Subscribe(nullptr), 0u);
    EXPECT_EQ(ev.GetCount(), 3u);
    CZubEventArgs args(&payload);
    ev.Fire(args);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(where, std::this_thread::get_id());
    EXPECT_TRUE(ev.Unsubscribe(token));
    seen.clear();
    ev(args);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "c"}));
}

TEST(ThreadZubEvent, HandlerSubscribingDuringFiringTakesEffectNextTime) {
    ZubEvent<CZubEventArgs> ev;
    int late = 0;
    ev.Subscribe([&](CZubEventArgs&) { ev.Subscribe([&](CZubEventArgs&) { late++; }); });
    CZubEventArgs args;
    ev.Fire(args);
    EXPECT_EQ(late, 0);
    ev.Fire(args);
    EXPECT_EQ(late, 1);
}

#include "threads/ThreadManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A gate the test opens to let a blocked handler go on.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> g(m_Mutex);
        m_bOpen = true;
        m_Cv.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> g(m_Mutex);
        m_Cv.wait(g, [this] { return m_bOpen; });
    }

private:
    std::mutex m_Mutex;
    std::condition_variable m_Cv;
    bool m_bOpen = false;
};

// Records what the handlers saw, safely across threads.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> events;
    std::vector<CZubEventArgs*> args;
    std::vector<void*> data;
    std::vector<std::thread::id> threads;

    void Note(const char* what, CZubEventArgs& a) {
        std::lock_guard<std::mutex> g(mutex);
        events.emplace_back(what);
        args.push_back(&a);
        data.push_back(a.GetData());
        threads.push_back(std::this_thread::get_id());
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> g(mutex);
        return events;
    }
};

void Subscribe(CVRNiThreadManager& tm, Journal& j) {
    // Subscribed in an order different from the firing order.
    tm.AddPostRunHandler([&j](CZubEventArgs& a) { j.Note("post", a); });
    tm.AddRunHandler([&j](CZubEventArgs& a) { j.Note("run", a); });
    tm.AddPreRunHandler([&j](CZubEventArgs& a) { j.Note("pre", a); });
}

// Polls bThreadActive until the worker has been reaped.
bool WaitIdle(CVRNiThreadManager& tm) {
    for (int i = 0; i < 5000; i++) {
        if (!tm.bThreadActive())
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

class CountedArgs : public CZubEventArgs {
public:
    CountedArgs(void* p, int& deaths) : CZubEventArgs(p), m_nDeaths(deaths) {}
    ~CountedArgs() override { m_nDeaths++; }

private:
    int& m_nDeaths;
};

} // namespace

TEST(ThreadManager, FiresPreRunRunPostRunOnTheWorker) {
    Journal j;
    CVRNiThreadManager tm;
    Subscribe(tm, j);
    EXPECT_FALSE(tm.bDone());
    ASSERT_TRUE(tm.Run());
    ASSERT_TRUE(WaitIdle(tm));
    EXPECT_TRUE(tm.bDone());
    EXPECT_EQ(j.Events(), (std::vector<std::string>{"pre", "run", "post"}));
    for (auto id : j.threads)
        EXPECT_NE(id, std::this_thread::get_id());
}

TEST(ThreadManager, WithoutArgumentsAFreshNullArgumentIsShared) {
    Journal j;
    CVRNiThreadManager tm;
    Subscribe(tm, j);
    ASSERT_TRUE(tm.Run());
    ASSERT_TRUE(WaitIdle(tm));
    ASSERT_EQ(j.args.size(), 3u);
    EXPECT_EQ(j.args[0], j.args[1]);
    EXPECT_EQ(j.args[1], j.args[2]);
    for (void* p : j.data)
        EXPECT_EQ(p, nullptr);
}

TEST(ThreadManager, HeldArgumentsReachEveryHandler) {
    Journal j;
    int payload = 5;
    int deaths = 0;
    {
        CVRNiThreadManager tm;
        Subscribe(tm, j);
        auto* args = new CountedArgs(&payload, deaths);
        tm.SetZubEventArgs(args);
        ASSERT_TRUE(tm.Run());
        ASSERT_TRUE(WaitIdle(tm));
        ASSERT_EQ(j.args.size(), 3u);
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(j.args[i], args);
            EXPECT_EQ(j.data[i], &payload);
        }
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 1); // the manager owns the arguments
}

TEST(ThreadManager, SetArgumentsKeepsTheSameObjectAndDeletesAReplacedOne) {
    int deaths = 0;
    CVRNiThreadManager tm;
    auto* first = new CountedArgs(nullptr, deaths);
    tm.SetZubEventArgs(first);
    tm.SetZubEventArgs(first);
    EXPECT_EQ(deaths, 0);
    tm.SetZubEventArgs(new CountedArgs(nullptr, deaths));
    EXPECT_EQ(deaths, 1);
    tm.SetZubEventArgs(nullptr);
    EXPECT_EQ(deaths, 2);
}

TEST(ThreadManager, StartingWhileRunningDoesNothingAndRestartWorksAfterwards) {
    Gate gate;
    std::atomic<int> runs{0};
    CVRNiThreadManager tm;
    tm.AddRunHandler([&](CZubEventArgs&) {
        runs++;
        gate.Wait();
    });
    ASSERT_TRUE(tm.Run());
    EXPECT_TRUE(tm.bThreadActive());
    EXPECT_FALSE(tm.Run());
    EXPECT_FALSE(tm.bDone());
    gate.Open();
    ASSERT_TRUE(WaitIdle(tm));
    EXPECT_TRUE(tm.bDone());
    EXPECT_EQ(runs, 1);
    // The ended worker is reaped: bThreadActive stays false.
    EXPECT_FALSE(tm.bThreadActive());

    for (int i = 0; i < 10; i++) {
        ASSERT_TRUE(tm.Run());
        ASSERT_TRUE(WaitIdle(tm));
        EXPECT_TRUE(tm.bDone());
    }
    EXPECT_EQ(runs, 11);
}

TEST(ThreadManager, DoneIsClearedForANewRun) {
    Gate gate;
    CVRNiThreadManager tm;
    std::atomic<bool> block{false};
    tm.AddRunHandler([&](CZubEventArgs&) {
        if (block)
            gate.Wait();
    });
    ASSERT_TRUE(tm.Run());
    ASSERT_TRUE(WaitIdle(tm));
    ASSERT_TRUE(tm.bDone());
    block = true;
    ASSERT_TRUE(tm.Run());
    EXPECT_FALSE(tm.bDone());
    gate.Open();
    ASSERT_TRUE(WaitIdle(tm));
    EXPECT_TRUE(tm.bDone());
}

TEST(ThreadManager, LockIsHeldDuringTheRunAndReleasedByTheWorker) {
    Gate gate;
    std::atomic<bool> lockedSeenByWorker{true};
    CVRNiThreadManager tm;
    tm.bSupportLocking(true);
    tm.AddRunHandler([&](CZubEventArgs&) {
        lockedSeenByWorker = tm.bLocked();
        gate.Wait();
    });
    ASSERT_TRUE(tm.Run());
    EXPECT_FALSE(tm.TryLock());
    gate.Open();
    // Waiting for the lock waits for the end of the run.
    EXPECT_TRUE(tm.Lock());
    EXPECT_TRUE(tm.bDone());
    EXPECT_FALSE(tm.bLocked());
    EXPECT_FALSE(lockedSeenByWorker);
    EXPECT_TRUE(tm.Unlock());
    ASSERT_TRUE(WaitIdle(tm));

    // A second run takes the lock again.
    ASSERT_TRUE(tm.Run());
    EXPECT_TRUE(tm.Lock());
    EXPECT_TRUE(tm.bDone());
    tm.Unlock();
}

TEST(ThreadManager, WithoutLockingTheLockStaysFree) {
    CVRNiThreadManager tm;
    Gate gate;
    tm.AddRunHandler([&](CZubEventArgs&) { gate.Wait(); });
    ASSERT_TRUE(tm.Run());
    EXPECT_FALSE(tm.bLocked());
    EXPECT_TRUE(tm.TryLock());
    tm.Unlock();
    gate.Open();
    ASSERT_TRUE(WaitIdle(tm));
    EXPECT_FALSE(tm.IsLocked());
}

TEST(ThreadManager, DestroyingARunningManagerWaitsForItsWorker) {
    std::atomic<bool> finished{false};
    std::atomic<bool> started{false};
    auto* tm = new CVRNiThreadManager;
    tm->AddRunHandler([&](CZubEventArgs&) {
        started = true;
        std::this_thread::sleep_for(50ms);
    });
    tm->AddPostRunHandler([&](CZubEventArgs&) { finished = true; });
    ASSERT_TRUE(tm->Run());
    while (!started)
        std::this_thread::yield();
    delete tm;
    EXPECT_TRUE(finished);
}

TEST(ThreadManager, UnsubscribedHandlersAreNotCalled) {
    std::atomic<int> calls{0};
    CVRNiThreadManager tm;
    auto token = tm.AddRunHandler([&](CZubEventArgs&) { calls += 100; });
    tm.AddRunHandler([&](CZubEventArgs&) { calls += 1; });
    EXPECT_TRUE(tm.RemoveRunHandler(token));
    EXPECT_FALSE(tm.RemoveRunHandler(token));
    ASSERT_TRUE(tm.Run());
    ASSERT_TRUE(WaitIdle(tm));
    EXPECT_EQ(calls, 1);
}

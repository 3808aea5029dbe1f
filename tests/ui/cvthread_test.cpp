#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "base/cvhandle.h"
#include "support/test_support.h"
#include "ui/cvthread.h"

namespace {

// Milliseconds on the performance counter, finer than the tick count.
double NowMs()
{
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / perMs;
}

// How much earlier than asked a sleep may end as the counter sees it: the
// system's tick, by which Sleep rounds.
const double kSleepSlackMs = 16;

struct Probe {
    std::atomic<int> calls{0};
    std::atomic<DWORD> threadId{0};
    std::atomic<double> lastCallAt{0};  // NowMs() at the start of the latest call
    CvHandle entered{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // set as each call starts
    CvHandle called{CreateEventW(nullptr, FALSE, FALSE, nullptr)};   // set as each call ends
    CvHandle release{CreateEventW(nullptr, TRUE, TRUE, nullptr)};    // a call waits for it
};

void Count(void* p)
{
    auto* probe = static_cast<Probe*>(p);
    probe->lastCallAt = NowMs();
    SetEvent(probe->entered.get());
    WaitForSingleObject(probe->release.get(), INFINITE);
    probe->threadId = GetCurrentThreadId();
    ++probe->calls;
    SetEvent(probe->called.get());
}

bool WaitCall(Probe& p, DWORD ms = 10000) { return WaitForSingleObject(p.called.get(), ms) == WAIT_OBJECT_0; }
bool WaitEntered(Probe& p, DWORD ms = 10000) { return WaitForSingleObject(p.entered.get(), ms) == WAIT_OBJECT_0; }

// Waits until the callback has been called at least n times in all.
bool WaitCalls(Probe& p, int n) { return cvtest::WaitUntil([&] { return p.calls.load() >= n; }); }

// A timer thread as the service stored it, watched through a handle of the
// test's own to the same thread. That handle waits for the thread's end,
// and it keeps the thread object, and so its id, alive: while it is open,
// the stored value names that thread only for as long as the service has
// not closed it.
struct Watched {
    HANDLE stored = nullptr;
    CvHandle own;
    DWORD id = 0;
    bool Ended(DWORD ms = 10000) const { return WaitForSingleObject(own.get(), ms) == WAIT_OBJECT_0; }
    bool StoredIsOpen() const { return GetThreadId(stored) == id; }
};

// Call only while the record's thread cannot end (it is neither killed nor
// stopped, or is held in its callback), so that the stored handle is the
// thread's.
void Watch(const tagCvTimer& t, Watched* w)
{
    w->stored = t.thread;
    HANDLE own = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), t.thread, GetCurrentProcess(), &own, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    w->own.reset(own);
    w->id = GetThreadId(own);
    ASSERT_NE(w->id, 0u);
}

// The record's thread field, read while the service's threads may write it;
// polled only where no thread handle can be had before the thread ends.
HANDLE ThreadField(const tagCvTimer& t) { return *static_cast<HANDLE const volatile*>(&t.thread); }

unsigned __stdcall SetAndReturn(void* ev)
{
    SetEvent(static_cast<HANDLE>(ev));
    return 42;
}

unsigned __stdcall Forever(void*)
{
    Sleep(INFINITE);
    return 7;
}

DWORD ExitCodeAfter(CCvThread& service, HANDLE thread, DWORD timeout)
{
    HANDLE dup = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS);
    CvHandle copy(dup);
    service.ExitThread(thread, timeout);
    EXPECT_EQ(WaitForSingleObject(copy.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0xFFFF;
    GetExitCodeThread(copy.get(), &code);
    return code;
}

}  // namespace

TEST(CvThread, InstanceIsOneObject)
{
    EXPECT_EQ(&CCvThread::Instance(), &CCvThread::Instance());
}

TEST(CvThread, StartThreadDetachedOrOwned)
{
    CCvThread service;
    CvHandle ran(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(service.StartThread(SetAndReturn, ran.get(), 1), nullptr);
    EXPECT_EQ(WaitForSingleObject(ran.get(), 10000), WAIT_OBJECT_0);  // it ran all the same

    ResetEvent(ran.get());
    HANDLE owned = service.StartThread(SetAndReturn, ran.get(), 0);
    ASSERT_NE(owned, nullptr);
    // Ends within the time-out: waited for, not terminated.
    EXPECT_EQ(ExitCodeAfter(service, owned, 10000), 42u);

    HANDLE stuck = service.StartThread(Forever, nullptr, 0);
    ASSERT_NE(stuck, nullptr);
    EXPECT_EQ(ExitCodeAfter(service, stuck, 50), 0u);  // terminated with 0
}

TEST(CvThread, TimerCallsBackOnItsOwnThreadOnceEachInterval)
{
    CCvThread service;
    Probe p;
    const double started = NowMs();
    service.StartTimer(1, Count, 300, &p);
    Watched w;
    Watch(service.timers[0], &w);
    ASSERT_TRUE(WaitCall(p));
    // The first call comes one interval after the start, not at once.
    const double first = p.lastCallAt.load();
    EXPECT_GE(first - started, 300 - kSleepSlackMs);
    ASSERT_TRUE(WaitCall(p));
    EXPECT_GE(p.lastCallAt.load() - first, 300 - kSleepSlackMs);
    EXPECT_EQ(p.threadId.load(), w.id);
    EXPECT_NE(p.threadId.load(), GetCurrentThreadId());
    service.Stop();
    EXPECT_TRUE(w.Ended());
    EXPECT_EQ(service.timers[0].thread, nullptr);
}

TEST(CvThread, SecondStartOfALiveIdIsIgnored)
{
    CCvThread service;
    Probe first, second;
    service.StartTimer(5, Count, 20, &first);
    HANDLE thread = service.timers[0].thread;
    service.StartTimer(5, Count, 1, &second);
    ASSERT_EQ(service.timers.size(), 1u);
    EXPECT_EQ(service.timers[0].thread, thread);
    EXPECT_EQ(service.timers[0].param, &first);
    EXPECT_EQ(service.timers[0].interval, 20);
    ASSERT_TRUE(WaitCall(first));
    ASSERT_TRUE(WaitCall(first));
    service.Stop();
    EXPECT_EQ(second.calls.load(), 0);
}

TEST(CvThread, KillDuringSleepMakesExactlyOneMoreCall)
{
    CCvThread service;
    Probe p;
    service.StartTimer(2, Count, 400, &p);
    Watched w;
    Watch(service.timers[0], &w);
    ASSERT_TRUE(WaitCall(p));
    // Between the end of the callback and the start of the next sleep the
    // thread only checks its flags, which nothing signals: a pause well
    // inside the interval puts the kill into the sleep.
    Sleep(100);
    ASSERT_EQ(p.calls.load(), 1) << "the kill would not land in the first sleep";
    service.KillTimer(2);
    EXPECT_EQ(service.timers[0].killed.load(), 1);
    ASSERT_TRUE(w.Ended());
    EXPECT_EQ(p.calls.load(), 2);
    EXPECT_EQ(service.timers[0].thread, nullptr);  // the ending thread cleared it
    service.KillTimer(99);  // unknown: ignored
}

TEST(CvThread, KillDuringCallbackMakesNoFurtherCall)
{
    CCvThread service;
    Probe p;
    ResetEvent(p.release.get());  // the first call waits inside the callback
    service.StartTimer(3, Count, 10, &p);
    Watched w;
    Watch(service.timers[0], &w);
    ASSERT_TRUE(WaitEntered(p));
    service.KillTimer(3);
    SetEvent(p.release.get());
    ASSERT_TRUE(w.Ended());
    EXPECT_EQ(p.calls.load(), 1);
    EXPECT_EQ(service.timers[0].thread, nullptr);
}

TEST(CvThread, KilledEntryIsReusedAndItsOldThreadLeavesIt)
{
    CCvThread service;
    Probe oldProbe, newProbe;
    service.StartTimer(4, Count, 300, &oldProbe);
    Watched old;
    Watch(service.timers[0], &old);
    ASSERT_TRUE(WaitCall(oldProbe));
    // Out of the callback, into the next sleep (as in the kill-during-sleep
    // test: nothing marks the moment).
    Sleep(100);
    ASSERT_EQ(oldProbe.calls.load(), 1);
    const tagCvTimer* entry = &service.timers[0];
    service.KillTimer(4);
    // Reused while the old thread still sleeps before its last call.
    service.StartTimer(4, Count, 50, &newProbe);
    EXPECT_EQ(service.timers.size(), 1u);
    EXPECT_EQ(&service.timers[0], entry);
    EXPECT_EQ(service.timers[0].param, &newProbe);
    Watched current;
    Watch(service.timers[0], &current);
    ASSERT_TRUE(WaitCall(newProbe));
    ASSERT_TRUE(old.Ended());
    EXPECT_EQ(oldProbe.calls.load(), 2);  // its one last call, with its own parameter
    // The new thread's handle is untouched, and the timer keeps running.
    EXPECT_EQ(service.timers[0].thread, current.stored);
    EXPECT_TRUE(current.StoredIsOpen());
    EXPECT_TRUE(WaitCalls(newProbe, newProbe.calls.load() + 2));
    service.Stop();
}

TEST(CvThread, RecordsStayInPlaceBeyondTenIds)
{
    CCvThread service;
    Probe probes[15];
    Watched threads[15];
    service.StartTimer(0, Count, 30, &probes[0]);
    const tagCvTimer* first = &service.timers[0];
    for (int id = 1; id < 15; ++id) service.StartTimer(id, Count, 30, &probes[id]);
    EXPECT_EQ(&service.timers[0], first);
    for (int id = 0; id < 15; ++id) Watch(service.timers[id], &threads[id]);
    for (Probe& p : probes) {
        ASSERT_TRUE(WaitCall(p));
        ASSERT_TRUE(WaitCall(p));
    }
    service.KillTimer(0);
    ASSERT_TRUE(threads[0].Ended());
    EXPECT_EQ(first->thread, nullptr);
    service.Stop();
    for (const Watched& w : threads) EXPECT_TRUE(w.Ended());
    for (const tagCvTimer& t : service.timers) EXPECT_EQ(t.thread, nullptr);
}

TEST(CvThread, StopEndsTimersAndLaterTimersNeverCallBack)
{
    CCvThread service;
    Probe p, late;
    service.StartTimer(1, Count, 0, &p);  // interval 0: calls back continuously
    Watched w;
    Watch(service.timers[0], &w);
    ASSERT_TRUE(WaitCall(p));
    ASSERT_TRUE(WaitCall(p));
    service.Stop();
    EXPECT_EQ(service.timers[0].thread, nullptr);
    // Stop has waited for the thread (or ended it): no call can follow.
    ASSERT_TRUE(w.Ended());
    const int calls = p.calls.load();

    // A timer started after Stop ends at once: its thread may be gone before
    // StartTimer returns, so its end shows only as the cleared field.
    service.StartTimer(2, Count, 1, &late);
    ASSERT_EQ(service.timers.size(), 2u);
    ASSERT_TRUE(cvtest::WaitUntil([&] { return ThreadField(service.timers[1]) == nullptr; }));
    EXPECT_EQ(late.calls.load(), 0);
    EXPECT_EQ(p.calls.load(), calls);
}

// Each timer thread's handle is closed exactly once, whoever ends the
// thread: the thread itself after KillTimer, StartTimer reusing a record
// whose killed thread is still in its callback, or Stop. (GetProcessHandleCount
// cannot show it: Wine answers 0.) A handle left open still names its thread
// after the thread has ended; a second close would close whatever took the
// value in between: here the event made right after each close, or the
// handle of the thread that took over the record.
TEST(CvThread, EachTimerThreadHandleIsClosedOnce)
{
    CCvThread service;
    Probe p;
    std::vector<Watched> ended(6);
    std::vector<CvHandle> sentinels, copies;  // events, and a copy of each

    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        const int id = round % 3;
        service.StartTimer(id, Count, 1, &p);
        Watch(service.timers[id], &ended[round]);
        service.KillTimer(id);
        ASSERT_TRUE(ended[round].Ended());
        EXPECT_FALSE(ended[round].StoredIsOpen()) << "the ended thread's handle is still open";
        sentinels.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), sentinels.back().get(), GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        copies.emplace_back(copy);
    }

    // Reuse: the old thread is held in its callback, so StartTimer must close
    // its handle, and the old thread must then leave the record alone.
    Probe held;
    ResetEvent(held.release.get());
    service.StartTimer(3, Count, 1, &held);
    Watched old, current;
    Watch(service.timers[3], &old);
    ASSERT_TRUE(WaitEntered(held));
    service.KillTimer(3);
    service.StartTimer(3, Count, 1, &p);
    EXPECT_FALSE(old.StoredIsOpen()) << "StartTimer left the killed thread's handle open";
    Watch(service.timers[3], &current);
    SetEvent(held.release.get());
    ASSERT_TRUE(old.Ended());
    EXPECT_TRUE(current.StoredIsOpen()) << "the old thread closed its successor's handle";
    EXPECT_EQ(service.timers[3].thread, current.stored);

    // Stop closes what is still running; the ending threads close nothing.
    std::vector<Watched> stopped(3);
    for (int id = 0; id < 3; ++id) {
        service.StartTimer(id, Count, 1, &p);
        Watch(service.timers[id], &stopped[id]);
    }
    service.Stop();
    stopped.push_back(std::move(current));
    for (const Watched& w : stopped) {
        EXPECT_TRUE(w.Ended());
        EXPECT_FALSE(w.StoredIsOpen()) << "Stop left a handle open";
    }
    for (const tagCvTimer& t : service.timers) EXPECT_EQ(t.thread, nullptr);

    // Every event is still the event it was: setting its copy sets it.
    for (size_t i = 0; i < sentinels.size(); ++i) {
        SetEvent(copies[i].get());
        EXPECT_EQ(WaitForSingleObject(sentinels[i].get(), 0), WAIT_OBJECT_0) << "event " << i << " was closed";
    }
}

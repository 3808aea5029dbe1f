#include "ui/cvthread.h"

#include <process.h>

#include "base/cvhandle.h"

namespace {

// Holds a critical section for one scope.

HANDLE BeginThread(CvThreadProc proc, void* param, unsigned flags)
{
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, proc, param, flags, nullptr));
}

}  // namespace

// What one timer thread works with: its record, and the run of the record it
// was started for. Callback, interval and parameter are its own copies, so a
// reused record never changes what an old thread calls.
struct CCvThread::Run {
    CCvThread* owner;
    tagCvTimer* record;
    uint32_t* run;
    uint32_t number;
    CvTimerProc callback;
    int32_t interval;
    void* param;
};

CCvThread& CCvThread::Instance()
{
    static CCvThread instance;
    return instance;
}

CCvThread::CCvThread() : stop(0)
{
    InitializeCriticalSection(&handoff);
}

CCvThread::~CCvThread()
{
    Stop();
    DeleteCriticalSection(&handoff);
}

HANDLE CCvThread::StartThread(CvThreadProc proc, void* param, int detach)
{
    HANDLE h = BeginThread(proc, param, 0);
    if (h && detach) {
        CloseHandle(h);
        return nullptr;
    }
    return h;
}

void CCvThread::ExitThread(HANDLE thread, DWORD timeoutMs)
{
    if (!thread) return;
    if (WaitForSingleObject(thread, timeoutMs) == WAIT_TIMEOUT) TerminateThread(thread, 0);
    CloseHandle(thread);
}

tagCvTimer* CCvThread::AddTimer(const tagCvTimer& record)
{
    for (size_t i = 0; i < timers.size(); ++i) {
        tagCvTimer& t = timers[i];
        if (t.id != record.id) continue;
        if (t.killed.load() == 0) return nullptr;  // a live timer keeps running unchanged
        // Reuse the killed entry. Its old thread may still be in its last
        // sleep: a new run number tells it the entry is no longer its own,
        // and its handle is closed here rather than by that thread.
        HANDLE old;
        {
            CvLocked lock(handoff);
            ++runs[i];
            old = t.thread;
            t.thread = nullptr;
        }
        if (old) CloseHandle(old);
        t.callback = record.callback;
        t.interval = record.interval;
        t.owner = record.owner;
        t.param = record.param;
        t.killed.store(0);
        return &t;
    }
    timers.emplace_back();
    tagCvTimer& t = timers.back();
    t.id = record.id;
    t.callback = record.callback;
    t.interval = record.interval;
    t.owner = record.owner;
    t.param = record.param;
    t.thread = nullptr;
    t.killed.store(0);
    CvLocked lock(handoff);
    runs.push_back(0);
    return &t;
}

void CCvThread::StartTimer(int id, CvTimerProc callback, int interval, void* param)
{
    tagCvTimer record;
    record.id = id;
    record.callback = callback;
    record.interval = interval;
    record.owner = this;
    record.param = param;
    record.thread = nullptr;
    record.killed.store(0);
    tagCvTimer* entry = AddTimer(record);
    if (!entry) return;

    uint32_t* run = nullptr;
    for (size_t i = 0; i < timers.size() && !run; ++i)
        if (&timers[i] == entry) run = &runs[i];
    Run* r;
    {
        CvLocked lock(handoff);
        r = new Run{this, entry, run, *run, callback, interval, param};
    }
    // Created suspended so that its handle is in the record before the
    // thread can end and clear it.
    HANDLE h = BeginThread(&TimerThread, r, CREATE_SUSPENDED);
    if (!h) {
        delete r;
        return;
    }
    {
        CvLocked lock(handoff);
        entry->thread = h;
    }
    ResumeThread(h);
}

void CCvThread::KillTimer(int id)
{
    for (tagCvTimer& t : timers) {
        if (t.id == id) {
            t.killed.store(1);
            return;
        }
    }
}

void CCvThread::Stop()
{
    stop.store(1);
    for (tagCvTimer& t : timers) {
        HANDLE h;
        {
            CvLocked lock(handoff);
            h = t.thread;
            t.thread = nullptr;
        }
        ExitThread(h, 100);  // closes it; the ending thread finds the field clear
    }
}

unsigned __stdcall CCvThread::TimerThread(void* param)
{
    Run* r = static_cast<Run*>(param);
    CCvThread* owner = r->owner;
    tagCvTimer* record = r->record;
    auto mine = [&] {
        CvLocked lock(owner->handoff);
        return *r->run == r->number;
    };
    while (owner->stop.load() == 0 && record->killed.load() == 0 && mine()) {
        Sleep(static_cast<DWORD>(r->interval < 0 ? 0 : r->interval));
        r->callback(r->param);
    }
    HANDLE h = nullptr;
    {
        CvLocked lock(owner->handoff);
        if (*r->run == r->number) {
            h = record->thread;
            record->thread = nullptr;
        }
    }
    if (h) CloseHandle(h);
    delete r;
    return 0;
}

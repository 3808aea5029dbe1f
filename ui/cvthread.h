// The thread service: worker threads, bounded thread ends, and periodic
// timers that each run on a thread of their own.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>

class CCvThread;

typedef unsigned(__stdcall* CvThreadProc)(void* param);
typedef void (*CvTimerProc)(void* param);

// One record per timer id. Records never move while the object lives, so a
// timer thread may keep the address of its record.
struct tagCvTimer {
    int32_t id;
    CvTimerProc callback;
    int32_t interval;              // milliseconds slept before each call
    CCvThread* owner;
    void* param;
    HANDLE thread;                 // the running timer thread; cleared when it ends
    std::atomic<int32_t> killed;   // 1 after KillTimer
};

class CCvThread {
public:
    static CCvThread& Instance();

    CCvThread();
    // Ends any timer thread still running (as Stop does), so that none of
    // them outlives the records it works on.
    ~CCvThread();
    CCvThread(const CCvThread&) = delete;
    CCvThread& operator=(const CCvThread&) = delete;

    // Starts `proc(param)` at once. Detached (non-zero flag): the handle is
    // closed and the result is null. Otherwise the caller owns the handle;
    // null when the thread could not be created.
    HANDLE StartThread(CvThreadProc proc, void* param, int detach);
    // Waits up to `timeoutMs` for the thread to end, terminates it (exit
    // code 0) if it has not, and closes the handle.
    void ExitThread(HANDLE thread, DWORD timeoutMs);

    // Calls `callback(param)` every `interval` ms on a thread of its own, the
    // first call one interval after the start. Ignored while a live timer
    // with this id exists.
    void StartTimer(int id, CvTimerProc callback, int interval, void* param);
    // Marks the timer killed and returns at once: a timer killed during its
    // sleep calls back once more; one killed during its callback does not.
    void KillTimer(int id);
    // Stops every timer for good, waiting up to 100 ms for each thread.
    void Stop();

    std::atomic<int32_t> stop;      // set by Stop, never cleared; polled by every timer
    std::deque<tagCvTimer> timers;  // in the order added; a deque never moves its elements

private:
    struct Run;
    tagCvTimer* AddTimer(const tagCvTimer& record);
    static unsigned __stdcall TimerThread(void* run);

    // Hand-over of a record's thread handle between the controlling thread
    // and an ending timer thread, and the run number of each record: a
    // reused record gets a new run, and the old run's thread then leaves it
    // alone.
    CRITICAL_SECTION handoff;
    std::deque<uint32_t> runs;
};

// Sleeps as waits on an unsignalled waitable timer, and joins that poll a thread's exit code.
#include "uiplugin/TimerSleep.h"

void TimerSleep(DWORD milliseconds) noexcept {
    HANDLE timer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
    if (!timer) return;
    WaitForSingleObject(timer, milliseconds);
    CloseHandle(timer);
}

void WaitForThreadExit(HANDLE thread) noexcept {
    if (!thread) return;
    DWORD code = 0;
    // A handle that cannot be read (closed, wrong kind) ends the wait rather than spinning.
    while (GetExitCodeThread(thread, &code) && code == STILL_ACTIVE) {
        if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) break;
        TimerSleep(100);
    }
}

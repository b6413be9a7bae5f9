// Sleeps as waits on an unsignalled waitable timer, joins that poll a thread's exit code, and
// waits that dispatch the waiting thread's messages.
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

DWORD MessageWait(HANDLE handle, DWORD milliseconds) noexcept {
    HANDLE timer = handle ? nullptr : CreateWaitableTimerW(nullptr, TRUE, nullptr);
    HANDLE waited = handle ? handle : timer;
    if (!waited) {
        TimerSleep(milliseconds);
        return WAIT_TIMEOUT;
    }
    const ULONGLONG end = GetTickCount64() + milliseconds;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now >= end ? 0 : static_cast<DWORD>(end - now);
        DWORD woke = MsgWaitForMultipleObjectsEx(1, &waited, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            result = handle ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
            break;
        }
        if (woke != WAIT_OBJECT_0 + 1) break;  // the time is up (or the wait failed)
        MSG message;
        bool quit = false;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                quit = true;
                break;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (quit) break;
        // A handle signalled while the messages ran is taken before the time is looked at.
        if (handle && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) {
            result = WAIT_OBJECT_0;
            break;
        }
        if (left == 0) break;
    }
    if (timer) CloseHandle(timer);
    return result;
}

// The sleeps and thread joins of the two-way client and server, and the waits of a window's
// thread that must keep its messages flowing.
#pragma once

#include <windows.h>

// Waits the given milliseconds on a fresh waitable timer that is never set; nothing happens
// when the timer cannot be made.
void TimerSleep(DWORD milliseconds) noexcept;
// Waits until the thread has ended, testing its exit code every 100 ms; nothing for null.
// The handle stays open.
void WaitForThreadExit(HANDLE thread) noexcept;
// Waits up to milliseconds for handle (null: a fresh timer that is never set, so the whole
// time) while dispatching the thread's messages, so that windows this thread made, and an
// apartment's calls, go on working. WAIT_OBJECT_0 when the handle was signalled, else
// WAIT_TIMEOUT. A WM_QUIT met on the way is posted again and ends the wait early.
DWORD MessageWait(HANDLE handle, DWORD milliseconds) noexcept;

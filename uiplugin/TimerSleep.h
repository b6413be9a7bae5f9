// The sleeps and thread joins of the two-way client and server.
#pragma once

#include <windows.h>

// Waits the given milliseconds on a fresh waitable timer that is never set; nothing happens
// when the timer cannot be made.
void TimerSleep(DWORD milliseconds) noexcept;
// Waits until the thread has ended, testing its exit code every 100 ms; nothing for null.
// The handle stays open.
void WaitForThreadExit(HANDLE thread) noexcept;

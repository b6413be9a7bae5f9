// The job monitor's start: when a document begins, the maker's job-monitor library beside
// Rindle is run through the system's rundll32, never for the SYSTEM account.
#pragma once

#include <windows.h>

// Opens HKEY_CURRENT_USER\SOFTWARE\VYR\JOB MONITOR, creating it when it is missing and create
// is set; 1 when the key exists afterwards (it is not kept open), else 0.
int OpenJobMonitorKey(bool create) noexcept;

// Starts "rundll32 <folder of module>\qvjm.dll,autorun" in the module's folder without
// waiting for it (module is Rindle's own handle); nonzero when the process was started, 0 on
// any failure or refusal.
BOOL LaunchJobMonitor(HINSTANCE module) noexcept;

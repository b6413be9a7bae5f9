// AutoMutex (re-entrant, counted, kernel mutex when named) and the queued lock
// AutoQueueLock.
#include "foundation/AutoMutex.h"

// ---------------------------------------------------------------------------------
// AutoMutex

AutoMutex::AutoMutex(const wchar_t* name) noexcept {
    if (!name) return;  // in-process lock: the SRW lock alone
    m_named = true;
    m_mutex = CreateMutexW(nullptr, FALSE, name);
    m_created = (m_mutex && GetLastError() == ERROR_ALREADY_EXISTS) ? FALSE : TRUE;
}

AutoMutex::~AutoMutex() {
    if (m_mutex) CloseHandle(m_mutex);
}

DWORD AutoMutex::GetOwner() const noexcept {
    return static_cast<DWORD>(InterlockedCompareExchange(const_cast<volatile LONG*>(&m_owner), 0, 0));
}

void AutoMutex::Lock() noexcept {
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (InterlockedCompareExchange(&m_owner, 0, 0) == self) {
        ++m_holds;
        return;
    }
    if (m_mutex) {
        // WAIT_ABANDONED also hands over ownership: the previous holder died.
        WaitForSingleObject(m_mutex, INFINITE);
    } else {
        // Unnamed locks, and a named one whose kernel mutex could not be made (which then
        // at least serialises the threads of this process).
        AcquireSRWLockExclusive(&m_local);
    }
    InterlockedExchange(&m_owner, self);
    m_holds = 1;
}

void AutoMutex::Unlock() noexcept {
    const LONG self = static_cast<LONG>(GetCurrentThreadId());
    if (InterlockedCompareExchange(&m_owner, 0, 0) != self) return;
    if (--m_holds > 0) return;
    m_holds = 0;
    InterlockedExchange(&m_owner, 0);
    if (m_mutex)
        ReleaseMutex(m_mutex);
    else
        ReleaseSRWLockExclusive(&m_local);
}

// ---------------------------------------------------------------------------------
// AutoQueueLock
//
// An MCS-style queue: each waiter swaps itself into the lock word and links itself
// behind its predecessor, which hands the lock on when it leaves. The two events of a
// waiter are made only when a hand-off really happens (by whichever of the two threads
// needs one first), so an uncontended lock costs two interlocked operations.

namespace {

HANDLE EnsureEvent(HANDLE volatile* slot) {
    for (;;) {
        HANDLE existing = InterlockedCompareExchangePointer(slot, nullptr, nullptr);
        if (existing) return existing;
        // Manual reset: each event is set once, and the "linked" one may be waited on twice.
        HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!made) {
            Sleep(1);
            continue;
        }
        existing = InterlockedCompareExchangePointer(slot, made, nullptr);
        if (!existing) return made;
        CloseHandle(made);
        return existing;
    }
}

}  // namespace

AutoQueueLock::AutoQueueLock(QueueLockWord volatile* lockWord) noexcept : m_word(lockWord) {
    if (!m_word) return;
    AutoQueueLock* predecessor = SwapTail();
    if (!predecessor) return;
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&predecessor->m_successor), this);
    HandOff(&predecessor->m_linked, &m_handOff);
}

AutoQueueLock::~AutoQueueLock() {
    if (m_word && InterlockedCompareExchangePointer(m_word, nullptr, this) != this) {
        // Someone swapped in behind us: wait until it has linked itself, then pass it the lock.
        WaitForSingleObject(EnsureEvent(&m_linked), INFINITE);
        AutoQueueLock* successor = static_cast<AutoQueueLock*>(
            InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&m_successor), nullptr, nullptr));
        HandOff(&successor->m_handOff, &m_linked);
    }
    if (m_handOff) CloseHandle(m_handOff);
    if (m_linked) CloseHandle(m_linked);
}

AutoQueueLock* AutoQueueLock::SwapTail() noexcept {
    return static_cast<AutoQueueLock*>(InterlockedExchangePointer(m_word, this));
}

void AutoQueueLock::HandOff(HANDLE volatile* signal, HANDLE volatile* wait) noexcept {
    HANDLE signalEvent = EnsureEvent(signal);
    HANDLE waitEvent = EnsureEvent(wait);
    SetEvent(signalEvent);
    WaitForSingleObject(waitEvent, INFINITE);
}

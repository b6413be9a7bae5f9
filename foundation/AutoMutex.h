// Locks shared by every module of the system:
// - AutoMutex: a re-entrant lock that remembers its owning thread and counts nested holds
//   (only the outermost Unlock releases). A named AutoMutex is a kernel mutex and so
//   spans processes; an unnamed one is an in-process lock with the same behaviour (a
//   kernel mutex round trip is far too slow for the per-call locks of the settings model).
// - AutoLock: scope holder of an AutoMutex.
// - AutoQueueLock: first-come-first-served scope lock on one pointer-sized lock word,
//   used to make function-local statics exactly once (see Syncher.h).
#pragma once

#include <windows.h>

class AutoMutex {
public:
    // name null: an in-process lock. Otherwise the named kernel mutex (created, or opened
    // when another object or process made it first).
    explicit AutoMutex(const wchar_t* name = nullptr) noexcept;
    virtual ~AutoMutex();

    AutoMutex(const AutoMutex&) = delete;
    AutoMutex& operator=(const AutoMutex&) = delete;

    // Blocks until the calling thread holds the lock; a thread that already holds it
    // passes at once and its hold count grows. An abandoned kernel mutex (its owner ended)
    // is taken over.
    void Lock() noexcept;
    // Ends one hold of the calling thread; the lock is released by the outermost one. A
    // thread that does not hold the lock changes nothing.
    void Unlock() noexcept;

    // 1 unless a name was given and the kernel mutex existed already.
    BOOL IsCreated() const noexcept { return m_created; }
    // True when this is a kernel mutex (named).
    bool IsNamed() const noexcept { return m_named; }
    // The kernel handle of a named lock (null for unnamed locks or when creation failed).
    HANDLE GetHandle() const noexcept { return m_mutex; }
    // Id of the holding thread, 0 when free (a snapshot).
    DWORD GetOwner() const noexcept;
    // Number of nested holds of the holding thread (meaningful only to that thread).
    LONG GetHoldCount() const noexcept { return m_holds; }

private:
    HANDLE m_mutex = nullptr;   // named: the kernel mutex
    volatile LONG m_owner = 0;  // thread id of the holder, interlocked
    BOOL m_created = TRUE;
    bool m_named = false;
    LONG m_holds = 0;           // written only by the holder
    SRWLOCK m_local = SRWLOCK_INIT;  // unnamed: the in-process lock
};

class AutoLock {
public:
    // Locks mutex (null: nothing) until the end of the scope.
    explicit AutoLock(AutoMutex* mutex) noexcept : m_mutex(mutex) {
        if (m_mutex) m_mutex->Lock();
    }
    virtual ~AutoLock() {
        if (m_mutex) m_mutex->Unlock();
    }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;

private:
    AutoMutex* m_mutex;
};

// The lock word of an AutoQueueLock: null when free, else the last waiter. Declare one
// per guarded thing with static storage: `static QueueLockWord s_lock = nullptr;`.
using QueueLockWord = void*;

class AutoQueueLock {
public:
    // Returns when the caller holds the lock; waiters are served in arrival order.
    // A null word makes a lock that holds nothing.
    explicit AutoQueueLock(QueueLockWord volatile* lockWord) noexcept;
    ~AutoQueueLock();

    AutoQueueLock(const AutoQueueLock&) = delete;
    AutoQueueLock& operator=(const AutoQueueLock&) = delete;

private:
    // Puts this waiter at the tail; returns the previous tail (null: the lock was free).
    AutoQueueLock* SwapTail() noexcept;
    // Signals the event in slot signal (made there when missing), then waits on the one in
    // slot wait (made there when missing); whichever thread comes first makes the event.
    static void HandOff(HANDLE volatile* signal, HANDLE volatile* wait) noexcept;

    QueueLockWord volatile* m_word;
    AutoQueueLock* volatile m_successor = nullptr;
    HANDLE volatile m_handOff = nullptr;   // signalled by the predecessor: the lock is ours
    HANDLE volatile m_linked = nullptr;    // signalled by the successor: it has linked itself
};

// Process-wide singletons:
// - Syncher<T>: holder of one object that hands it out under its own AutoMutex.
// - GuardedStatic<T, Tag>: a function-local static made once under its own AutoQueueLock
//   and destroyed at process exit. Every singleton accessor of the system uses it:
//
//     Syncher<OEMManager>& GetOEMManager(const wchar_t* path) {
//         return GuardedSyncher<OEMManager>([&] { return new (std::nothrow) OEMManager(path); });
//     }
//
//   (later calls ignore the maker). When the maker throws, nothing is kept and the
//   exception passes on, so a later call tries again.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <new>
#include <utility>

#include "foundation/AutoMutex.h"

template <class T>
class Syncher {
public:
    // Takes ownership of object (may be null: the Syncher then hands out null forever).
    explicit Syncher(T* object) noexcept : m_object(object), m_lock(object ? &m_mutex : nullptr) {}
    virtual ~Syncher() {
        delete m_object;
        m_object = nullptr;
    }

    Syncher(const Syncher&) = delete;
    Syncher& operator=(const Syncher&) = delete;

    // Locks and returns the object; null (and no lock) when there is none.
    T* Lock() noexcept {
        if (!m_lock) return nullptr;
        m_lock->Lock();
        return m_object;
    }
    // Unlocks a hold taken by Lock; a null object does nothing.
    void Unlock(T* object) noexcept {
        if (object && m_lock) m_lock->Unlock();
    }
    // The object without locking, for holders whose object serialises itself.
    T* Get() const noexcept { return m_object; }

private:
    T* m_object;
    AutoMutex m_mutex;
    AutoMutex* m_lock;
};

// Scope holder of a Syncher lock: `SyncherHold<X> hold(GetX()); if (X* x = hold.Get()) ...`
template <class T>
class SyncherHold {
public:
    explicit SyncherHold(Syncher<T>& syncher) noexcept : m_syncher(syncher), m_object(syncher.Lock()) {}
    ~SyncherHold() { m_syncher.Unlock(m_object); }
    SyncherHold(const SyncherHold&) = delete;
    SyncherHold& operator=(const SyncherHold&) = delete;
    T* Get() const noexcept { return m_object; }

private:
    Syncher<T>& m_syncher;
    T* m_object;
};

// A lazily made process-wide object of type T. Tag tells apart two statics of one type.
// Storage, guard and lock word are constant-initialised, so no compiler-made guard runs.
template <class T, class Tag = T>
class GuardedStatic {
public:
    // The object, made on the first call by constructing T from make()'s result
    // (make returns a T, or the arguments' single value T is constructed from).
    template <class Make>
    static T& Get(Make&& make) {
        // Made objects are published with release semantics; readers that see the
        // ready bit see the whole object without taking the queue lock.
        // A plain acquire load suffices for that; a locked read would cost more than many
        // of the look-ups behind it.
        if (__atomic_load_n(&s_guard, __ATOMIC_ACQUIRE) & kReady) return *Object();
        AutoQueueLock lock(&s_lockWord);
        if (!(s_guard & kStarted)) {
            InterlockedOr(&s_guard, kStarted);
            try {
                ::new (static_cast<void*>(s_storage)) T(std::forward<Make>(make)());
            } catch (...) {
                InterlockedAnd(&s_guard, ~kStarted);
                throw;
            }
            std::atexit(&Destroy);
            InterlockedOr(&s_guard, kReady);
        }
        return *Object();
    }

    // True once the object exists (until process exit).
    static bool IsMade() noexcept { return (InterlockedCompareExchange(&s_guard, 0, 0) & kReady) != 0; }

private:
    static constexpr LONG kStarted = 1;
    static constexpr LONG kReady = 2;

    static T* Object() noexcept { return std::launder(reinterpret_cast<T*>(s_storage)); }
    static void Destroy() {
        AutoQueueLock lock(&s_lockWord);
        if (s_guard & kReady) {
            InterlockedAnd(&s_guard, ~kReady);  // never made again during exit
            Object()->~T();
        }
    }

    static inline QueueLockWord s_lockWord = nullptr;
    static inline volatile LONG s_guard = 0;
    alignas(T) static inline unsigned char s_storage[sizeof(T)] = {};
};

// The process-wide Syncher<T> of one accessor: made on first use with the object that
// makeObject returns (a new T, or null when it cannot be made).
template <class T, class Tag = T, class MakeObject>
Syncher<T>& GuardedSyncher(MakeObject&& makeObject) {
    return GuardedStatic<Syncher<T>, Tag>::Get([&]() -> T* { return makeObject(); });
}

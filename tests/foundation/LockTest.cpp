// AutoMutex, AutoLock, AutoQueueLock, Syncher and the guarded statics.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "foundation/AutoMutex.h"
#include "foundation/StrUtil.h"
#include "foundation/Syncher.h"

namespace {

// Generous bound for "this must happen"; only a hang would reach it.
constexpr DWORD kMustHappenMs = 20000;
// How long a blocked thread is given to (wrongly) get through.
constexpr DWORD kGraceMs = 150;

std::wstring UniqueName(const wchar_t* what) {
    WText name(FormatAlloc(L"Local\\TolvaTest-%s-%u-%u", what, GetCurrentProcessId(), GetTickCount()));
    return name.get();
}

// A thread that takes a lock and reports when it got it.
class Contender {
public:
    explicit Contender(std::function<void()> lock, std::function<void()> unlock)
        : m_got(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_thread([this, lock, unlock] {
              lock();
              SetEvent(m_got);
              unlock();
          }) {}
    ~Contender() {
        if (m_thread.joinable()) m_thread.join();
        CloseHandle(m_got);
    }
    bool GotWithin(DWORD ms) const { return WaitForSingleObject(m_got, ms) == WAIT_OBJECT_0; }

private:
    HANDLE m_got;
    std::thread m_thread;
};

// ---------------------------------------------------------------------------------
// AutoMutex

class AutoMutexKinds : public ::testing::TestWithParam<bool> {
protected:
    AutoMutexKinds() : m_name(UniqueName(L"kinds")), m_mutex(GetParam() ? m_name.c_str() : nullptr) {}
    std::wstring m_name;
    AutoMutex m_mutex;
};

TEST_P(AutoMutexKinds, OwnerPassesAgainAndCountsNesting) {
    EXPECT_EQ(GetParam(), m_mutex.IsNamed());
    m_mutex.Lock();
    m_mutex.Lock();  // would deadlock here without owner re-entry
    m_mutex.Lock();
    EXPECT_EQ(GetCurrentThreadId(), m_mutex.GetOwner());
    EXPECT_EQ(3, m_mutex.GetHoldCount());
    m_mutex.Unlock();
    m_mutex.Unlock();
    EXPECT_EQ(GetCurrentThreadId(), m_mutex.GetOwner()) << "inner unlocks do not release";
    {
        Contender other([this] { m_mutex.Lock(); }, [this] { m_mutex.Unlock(); });
        EXPECT_FALSE(other.GotWithin(kGraceMs)) << "another thread got in while the outer hold lasts";
        m_mutex.Unlock();
        EXPECT_TRUE(other.GotWithin(kMustHappenMs)) << "the outermost unlock releases";
    }
    EXPECT_EQ(0u, m_mutex.GetOwner());
}

TEST_P(AutoMutexKinds, NestedScopeLocksKeepExclusion) {
    // The outer AutoLock still holds after an inner one ends.
    AutoLock outer(&m_mutex);
    {
        AutoLock inner(&m_mutex);
    }
    Contender other([this] { m_mutex.Lock(); }, [this] { m_mutex.Unlock(); });
    EXPECT_FALSE(other.GotWithin(kGraceMs));
    m_mutex.Unlock();  // ends the outer hold early so the contender can finish
    EXPECT_TRUE(other.GotWithin(kMustHappenMs));
    m_mutex.Lock();  // balance the outer AutoLock's unlock
}

TEST_P(AutoMutexKinds, UnlockByAnotherThreadChangesNothing) {
    m_mutex.Lock();
    std::thread([this] { m_mutex.Unlock(); }).join();
    EXPECT_EQ(GetCurrentThreadId(), m_mutex.GetOwner());
    EXPECT_EQ(1, m_mutex.GetHoldCount());
    m_mutex.Unlock();
    m_mutex.Unlock();  // an extra unlock is ignored
    EXPECT_EQ(0u, m_mutex.GetOwner());
}

TEST_P(AutoMutexKinds, MutualExclusionUnderLoad) {
    long counter = 0;  // deliberately not atomic
    std::vector<std::thread> threads;
    const int kThreads = 4, kRounds = GetParam() ? 200 : 20000;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                AutoLock outer(&m_mutex);
                AutoLock inner(&m_mutex);
                const long seen = counter;
                if ((i & 63) == 0) SwitchToThread();
                counter = seen + 1;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(static_cast<long>(kThreads) * kRounds, counter);
}

INSTANTIATE_TEST_SUITE_P(Both, AutoMutexKinds, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Named" : "Unnamed");
                         });

TEST(AutoMutexNamed, SecondInstanceReportsNotCreated) {
    const std::wstring name = UniqueName(L"created");
    AutoMutex first(name.c_str());
    AutoMutex second(name.c_str());
    EXPECT_EQ(TRUE, first.IsCreated());
    EXPECT_EQ(FALSE, second.IsCreated());
    AutoMutex unnamed;
    EXPECT_EQ(TRUE, unnamed.IsCreated());
    EXPECT_FALSE(unnamed.IsNamed());
    EXPECT_EQ(nullptr, unnamed.GetHandle());
}

TEST(AutoMutexNamed, InstancesOfOneNameExcludeEachOther) {
    const std::wstring name = UniqueName(L"shared");
    AutoMutex mine(name.c_str());
    AutoMutex theirs(name.c_str());  // as another module or process would open it
    mine.Lock();
    Contender other([&] { theirs.Lock(); }, [&] { theirs.Unlock(); });
    EXPECT_FALSE(other.GotWithin(kGraceMs));
    mine.Unlock();
    EXPECT_TRUE(other.GotWithin(kMustHappenMs));
}

TEST(AutoMutexNamed, AbandonedMutexIsTakenOver) {
    const std::wstring name = UniqueName(L"abandoned");
    AutoMutex mine(name.c_str());
    {
        AutoMutex dying(name.c_str());
        std::thread([&] { dying.Lock(); }).join();  // the holder ends without unlocking
    }
    mine.Lock();
    EXPECT_EQ(GetCurrentThreadId(), mine.GetOwner());
    mine.Unlock();
    EXPECT_EQ(0u, mine.GetOwner());
}

// ---------------------------------------------------------------------------------
// AutoQueueLock

TEST(AutoQueueLock, ThreeThreadsLeaveInArrivalOrder) {
    static QueueLockWord word = nullptr;
    std::vector<int> order;
    std::vector<std::thread> threads;
    {
        AutoQueueLock held(&word);
        void* previous = word;
        ASSERT_NE(nullptr, previous);
        for (int id = 1; id <= 3; ++id) {
            threads.emplace_back([&order, id] {
                AutoQueueLock lock(&word);
                order.push_back(id);  // under the lock
            });
            // Wait until this thread has swapped itself in before starting the next one.
            while (InterlockedCompareExchangePointer(&word, nullptr, nullptr) == previous) SwitchToThread();
            previous = word;
        }
        EXPECT_TRUE(order.empty()) << "nobody entered while the first holder held the lock";
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
    EXPECT_EQ(nullptr, word) << "the lock word is free again after the last one";
}

TEST(AutoQueueLock, ExclusionUnderLoad) {
    static QueueLockWord word = nullptr;
    long counter = 0;
    std::vector<std::thread> threads;
    const int kThreads = 4, kRounds = 2000;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                AutoQueueLock lock(&word);
                const long seen = counter;
                if ((i & 31) == 0) SwitchToThread();
                counter = seen + 1;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(static_cast<long>(kThreads) * kRounds, counter);
    EXPECT_EQ(nullptr, word);
}

TEST(AutoQueueLock, NullWordHoldsNothing) {
    AutoQueueLock lock(nullptr);  // must neither crash nor block
    SUCCEED();
}

// ---------------------------------------------------------------------------------
// Syncher and guarded statics

struct Counted {
    static inline std::atomic<int> made{0};
    static inline std::atomic<int> destroyed{0};
    int value;
    explicit Counted(int v) : value(v) { ++made; }
    ~Counted() { ++destroyed; }
};

TEST(Syncher, NullObjectHandsOutNull) {
    Syncher<Counted> empty(nullptr);
    EXPECT_EQ(nullptr, empty.Lock());
    empty.Unlock(nullptr);
    EXPECT_EQ(nullptr, empty.Get());
    // Another thread is not blocked: no lock was taken.
    std::thread([&] { EXPECT_EQ(nullptr, empty.Lock()); }).join();
}

TEST(Syncher, LocksReentrantlyAndDeletesItsObject) {
    const int before = Counted::destroyed;
    {
        Syncher<Counted> holder(new Counted(7));
        Counted* a = holder.Lock();
        ASSERT_NE(nullptr, a);
        EXPECT_EQ(7, a->value);
        Counted* b = holder.Lock();  // nested acquire on one thread
        EXPECT_EQ(a, b);
        holder.Unlock(b);
        Contender other([&] { holder.Lock(); }, [&] { holder.Unlock(holder.Get()); });
        EXPECT_FALSE(other.GotWithin(kGraceMs)) << "the outer hold still excludes others";
        holder.Unlock(a);
        EXPECT_TRUE(other.GotWithin(kMustHappenMs));
        holder.Unlock(nullptr);  // does nothing
        SyncherHold<Counted> scope(holder);
        EXPECT_EQ(a, scope.Get());
    }
    EXPECT_EQ(before + 1, Counted::destroyed.load());
}

struct RaceTag;
struct ThrowTag;

TEST(GuardedStatic, MadeOnceUnderConcurrentFirstUse) {
    const int before = Counted::made;
    std::atomic<bool> go{false};
    std::vector<Syncher<Counted>*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            while (!go) SwitchToThread();
            seen[static_cast<size_t>(t)] = &GuardedSyncher<Counted, RaceTag>([] {
                Sleep(20);  // widen the window in which others arrive
                return new Counted(42);
            });
        });
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(before + 1, Counted::made.load()) << "exactly one object made";
    for (auto* s : seen) EXPECT_EQ(seen[0], s);
    SyncherHold<Counted> hold(*seen[0]);
    ASSERT_NE(nullptr, hold.Get());
    EXPECT_EQ(42, hold.Get()->value);
    EXPECT_TRUE((GuardedStatic<Syncher<Counted>, RaceTag>::IsMade()));
}

TEST(GuardedStatic, FailedConstructionIsRetried) {
    int attempts = 0;
    auto failing = [&]() -> Counted* {
        ++attempts;
        throw std::runtime_error("no memory");
    };
    EXPECT_THROW((GuardedSyncher<Counted, ThrowTag>(failing)), std::runtime_error);
    EXPECT_FALSE((GuardedStatic<Syncher<Counted>, ThrowTag>::IsMade()));
    Syncher<Counted>& made = GuardedSyncher<Counted, ThrowTag>([&] {
        ++attempts;
        return new Counted(5);
    });
    EXPECT_EQ(2, attempts);
    SyncherHold<Counted> hold(made);
    ASSERT_NE(nullptr, hold.Get());
    EXPECT_EQ(5, hold.Get()->value);
    // Later calls ignore their maker.
    Syncher<Counted>& again = GuardedSyncher<Counted, ThrowTag>([&]() -> Counted* {
        ++attempts;
        return nullptr;
    });
    EXPECT_EQ(&made, &again);
    EXPECT_EQ(2, attempts);
}

}  // namespace

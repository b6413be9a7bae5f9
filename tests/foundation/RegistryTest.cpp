// The registry key wrapper and the registry free functions, on a private key under HKCU.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "foundation/GPRegUtil.h"
#include "foundation/StrUtil.h"

namespace {

// A test key "Software\VYR-Test-Foundation-<pid>" that is removed before and after each test.
class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() {
        WText key(FormatAlloc(L"Software\\VYR-Test-Foundation-%u", GetCurrentProcessId()));
        m_key = key.get();
        WText child(FormatAlloc(L"%s\\Child", m_key.c_str()));
        m_child = child.get();
        RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str());
    }
    ~RegistryTest() override { RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()); }

    bool KeyExists(const std::wstring& path) const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    bool ValueExists(const wchar_t* name) const {
        return RegGetValueW(HKEY_CURRENT_USER, m_key.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }

    std::wstring m_key;
    std::wstring m_child;
};

TEST_F(RegistryTest, MissingKeyReadsDefaultsAndFirstWriteCreatesIt) {
    {
        GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
        EXPECT_FALSE(reg.IsOpen());
        EXPECT_EQ(77u, reg.GetDWord(L"Missing", 77));
        WText text(reg.GetString(L"Missing", L"default"));
        EXPECT_EQ(std::wstring(L"default"), text.get());
        EXPECT_EQ(nullptr, reg.GetString(L"Missing", nullptr));
        EXPECT_EQ(0u, reg.GetValueCount());
        EXPECT_FALSE(KeyExists(m_key)) << "reading creates nothing";
        EXPECT_TRUE(reg.SetDWord(L"Number", 5));
        EXPECT_TRUE(reg.IsOpen());
    }
    EXPECT_TRUE(KeyExists(m_key));
    GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
    EXPECT_TRUE(reg.IsOpen());
    EXPECT_EQ(5u, reg.GetDWord(L"Number", 0));
    EXPECT_EQ(9u, reg.GetDWord(nullptr, 9)) << "a null name reads the default";
}

TEST_F(RegistryTest, StringsRoundTripAndEmptyReadsAsDefault) {
    GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
    ASSERT_TRUE(reg.SetString(L"Name", L"Tolva \x00E9\x4E2D"));
    ASSERT_TRUE(reg.SetString(L"Empty", L""));
    WText name(reg.GetString(L"Name", L"x"));
    EXPECT_EQ(std::wstring(L"Tolva \x00E9\x4E2D"), name.get());
    WText empty(reg.GetString(L"Empty", L"fallback"));
    EXPECT_EQ(std::wstring(L"fallback"), empty.get());
    EXPECT_EQ(nullptr, reg.GetString(L"Empty", nullptr));
    EXPECT_FALSE(reg.SetString(L"Null", nullptr));
}

TEST_F(RegistryTest, UnterminatedStringValueIsTerminated) {
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, m_key.c_str()));
    const wchar_t raw[] = {L'a', L'b', L'c'};  // written without a terminator
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), L"Raw", REG_SZ, raw, sizeof(raw)));
    GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
    WText text(reg.GetString(L"Raw", nullptr));
    ASSERT_TRUE(text);
    EXPECT_EQ(std::wstring(L"abc"), text.get());
}

TEST_F(RegistryTest, NullNameAppendsUnderTheFirstFreeNumber) {
    GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
    ASSERT_TRUE(reg.SetString(L"0", L"zero"));
    ASSERT_TRUE(reg.SetString(L"1", L"one"));
    ASSERT_TRUE(reg.SetString(L"2", L"two"));
    ASSERT_EQ(3u, reg.GetValueCount());
    ASSERT_TRUE(reg.SetString(nullptr, L"appended"));
    WText three(reg.GetString(L"3", nullptr));
    EXPECT_EQ(std::wstring(L"appended"), three.get()) << "three values: the next one is \"3\"";

    // With "2" gone the count is 3 again, but "3" must not be overwritten.
    ASSERT_TRUE(DeleteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"2"));
    ASSERT_EQ(3u, reg.GetValueCount());
    ASSERT_TRUE(reg.SetDWord(nullptr, 22));
    EXPECT_EQ(22u, reg.GetDWord(L"2", 0));
    WText kept(reg.GetString(L"3", nullptr));
    EXPECT_EQ(std::wstring(L"appended"), kept.get()) << "the value \"3\" is not lost";
}

TEST_F(RegistryTest, IncrementCountsFromOne) {
    GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
    EXPECT_EQ(1u, reg.Increment(L"Connections"));
    EXPECT_EQ(2u, reg.Increment(L"Connections"));
    EXPECT_EQ(2u, reg.GetDWord(L"Connections", 0));
    EXPECT_EQ(0u, reg.Increment(nullptr));
}

TEST_F(RegistryTest, DeleteTreeRemovesTwoLevels) {
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, (m_child + L"\\GrandA").c_str()));
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, (m_child + L"\\GrandB").c_str()));
    ASSERT_TRUE(CreateRegKey(HKEY_CURRENT_USER, (m_key + L"\\Second").c_str()));
    {
        GPRegUtil reg(HKEY_CURRENT_USER, m_child.c_str());
        ASSERT_TRUE(reg.SetDWord(L"v", 1));
    }
    EXPECT_TRUE(DeleteRegKeyTree(HKEY_CURRENT_USER, m_key.c_str()));
    EXPECT_FALSE(KeyExists(m_key));
    EXPECT_FALSE(DeleteRegKeyTree(HKEY_CURRENT_USER, m_key.c_str())) << "a missing key";
    EXPECT_FALSE(DeleteRegKeyTree(nullptr, m_key.c_str()));
    EXPECT_FALSE(DeleteRegKeyTree(HKEY_CURRENT_USER, nullptr));
}

TEST_F(RegistryTest, DeleteValueAndArgumentChecks) {
    {
        GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
        ASSERT_TRUE(reg.SetDWord(L"Gone", 1));
    }
    EXPECT_TRUE(ValueExists(L"Gone"));
    EXPECT_TRUE(DeleteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Gone"));
    EXPECT_FALSE(ValueExists(L"Gone"));
    EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"Gone"));
    EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, nullptr, L"x"));
    EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, m_key.c_str(), nullptr));
    EXPECT_FALSE(CreateRegKey(nullptr, L"x"));
    EXPECT_FALSE(CreateRegKey(HKEY_CURRENT_USER, nullptr));
    // Many deletes must not leak the handles they open.
    DWORD before = 0, after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    for (int i = 0; i < 2000; ++i) DeleteRegValue(HKEY_CURRENT_USER, m_key.c_str(), L"none");
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_LT(after, before + 100);
}

TEST_F(RegistryTest, WrapperHoldsTheRegistryMutexForItsLifetime) {
    AutoMutex* mutex = GPRegUtil::GetMutex();
    ASSERT_NE(nullptr, mutex);
    EXPECT_TRUE(mutex->IsNamed());
    EXPECT_EQ(mutex, GPRegUtil::GetMutex()) << "one mutex per process";
    {
        GPRegUtil outer(HKEY_CURRENT_USER, m_key.c_str());
        EXPECT_EQ(GetCurrentThreadId(), mutex->GetOwner());
        {
            GPRegUtil inner(HKEY_CURRENT_USER, m_key.c_str());  // same thread: does not block
            EXPECT_EQ(GetCurrentThreadId(), mutex->GetOwner());
        }
        EXPECT_EQ(GetCurrentThreadId(), mutex->GetOwner()) << "the inner wrapper leaves the outer hold in place";
        // Another process (or module) opening the same name would have to wait.
        HANDLE other = OpenMutexW(SYNCHRONIZE, FALSE, L"{897005EF-D0F2-4b06-BF93-E43FABAFD5D5}");
        ASSERT_NE(nullptr, other);
        DWORD result = WAIT_FAILED;
        std::thread([&] { result = WaitForSingleObject(other, 0); }).join();
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), result);
        CloseHandle(other);
    }
    EXPECT_EQ(0u, mutex->GetOwner());
}

TEST_F(RegistryTest, WrappersSerialiseReadModifyWrite) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([this] {
            for (int i = 0; i < 40; ++i) {
                GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
                const DWORD seen = reg.GetDWord(L"Counter", 0);
                SwitchToThread();
                reg.SetDWord(L"Counter", seen + 1);
            }
        });
    for (auto& t : threads) t.join();
    GPRegUtil reg(HKEY_CURRENT_USER, m_key.c_str());
    EXPECT_EQ(120u, reg.GetDWord(L"Counter", 0));
}

// The child half of the cross-process test below: runs only when started by it.
TEST(RegistryMutexChild, HoldsTheMutexUntilReleased) {
    const char* tag = std::getenv("TOLVA_FOUNDATION_CHILD");
    if (!tag) GTEST_SKIP() << "runs only as the child of RegistryMutex.SpansProcesses";
    StrUtil<wchar_t, char> name(tag);
    WText heldName(FormatAlloc(L"%s-held", name.Get())), releaseName(FormatAlloc(L"%s-release", name.Get()));
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, heldName.get());
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, releaseName.get());
    ASSERT_TRUE(held && release);
    {
        GPRegUtil reg(HKEY_CURRENT_USER, L"Software");
        SetEvent(held);
        WaitForSingleObject(release, 60000);
    }
    CloseHandle(held);
    CloseHandle(release);
}

TEST(RegistryMutex, SpansProcesses) {
    WText tag(FormatAlloc(L"Local\\TolvaTest-regmutex-%u", GetCurrentProcessId()));
    WText heldName(FormatAlloc(L"%s-held", tag.get())), releaseName(FormatAlloc(L"%s-release", tag.get()));
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, heldName.get());
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, releaseName.get());
    ASSERT_TRUE(held && release);
    ASSERT_TRUE(SetEnvironmentVariableW(L"TOLVA_FOUNDATION_CHILD", tag.get()));

    wchar_t exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, exe, MAX_PATH), 0u);
    WText command(FormatAlloc(L"\"%s\" --gtest_filter=RegistryMutexChild.*", exe));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    const BOOL started =
        CreateProcessW(nullptr, command.get(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableW(L"TOLVA_FOUNDATION_CHILD", nullptr);
    ASSERT_TRUE(started);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 60000)) << "the child took the registry mutex";

    HANDLE got = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread contender([got] {
        GPRegUtil reg(HKEY_CURRENT_USER, L"Software");  // waits for the other process
        SetEvent(got);
    });
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(got, 150))
        << "this process got in while the other held the mutex";
    SetEvent(release);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(got, 60000));
    contender.join();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(0u, exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(got);
    CloseHandle(held);
    CloseHandle(release);
}

}  // namespace

// Settings stores: the in-memory entries, the administrator store over a printer-data key
// of a Wine printer, and the user store over a registry key.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "storage/PrinterData.h"
#include "storage/Store.h"
#include "tests/support/PrinterDataSeam.h"
#include "tests/support/TestPrinter.h"

using tolvatest::FixturePath;
using tolvatest::TestPrinter;

namespace {

std::wstring ValueOf(const CBaseStore& store, const wchar_t* key) {
    const CStoreEntry* entry = store.Find(key);
    return entry ? entry->Text() : L"<missing>";
}

TEST(StoreEntries, SetReplacesAndKeepsOneEntry) {
    CUserStore store(HKEY_CURRENT_USER, L"Software\\TolvaTest\\Unused", REG_SZ);
    EXPECT_TRUE(store.SetString(L"B", L"one"));
    EXPECT_TRUE(store.SetString(L"B", L"two"));
    EXPECT_EQ(store.Count(), 1u);
    EXPECT_EQ(ValueOf(store, L"B"), L"two");
    const wchar_t raw[] = {L'x', L'\0', L'y'};
    EXPECT_TRUE(store.SetValue(L"B", raw, 3));
    EXPECT_EQ(store.Count(), 1u);
    EXPECT_EQ(store.Find(L"B")->GetLength(), 3u) << "binary values keep embedded NULs";
    store.Remove(L"B");
    store.Remove(L"never there");
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_FALSE(store.SetString(nullptr, L"x"));
    EXPECT_FALSE(store.SetString(L"k", nullptr));
    EXPECT_EQ(store.GetKey(store.End()), nullptr);
    EXPECT_EQ(store.GetValue(store.End()), nullptr);
    EXPECT_EQ(store.GetEntry(store.End()), nullptr);
}

TEST(StoreEntries, FindByValueComparesValuesInKeyOrder) {
    CUserStore store(HKEY_CURRENT_USER, L"Software\\TolvaTest\\Unused", REG_SZ);
    store.SetString(L"c", L"target");
    store.SetString(L"a", L"other");
    store.SetString(L"b", L"target");
    store.SetString(L"target", L"key named like the value");
    int ordinal = -7;
    auto found = store.FindByValue(L"target", &ordinal);
    ASSERT_NE(found, store.End());
    EXPECT_STREQ(store.GetKey(found), L"b");
    EXPECT_EQ(ordinal, 1);
    ordinal = -7;
    EXPECT_EQ(store.FindByValue(L"none", &ordinal), store.End());
    EXPECT_EQ(store.FindByValue(nullptr, &ordinal), store.End());
    EXPECT_EQ(ordinal, -7) << "ordinal untouched when nothing matches";
}

TEST(StoreEntries, KeysAreOrderedByCodeUnits) {
    CUserStore store(HKEY_CURRENT_USER, L"Software\\TolvaTest\\Unused", REG_SZ);
    for (const wchar_t* key : {L"b", L"B", L"a", L"_", L"\x00e9"})
        store.SetString(key, L"v");
    std::wstring order;
    for (auto at = store.Begin(); at != store.End(); ++at)
        order += store.GetKey(at);
    EXPECT_EQ(order, L"B_ab\x00e9");
}

TEST(StoreEntries, CloneAndCopyFromCopyTheEntries) {
    CUserStore store(HKEY_CURRENT_USER, L"Software\\TolvaTest\\Clone", REG_BINARY);
    store.SetString(L"k", L"v");
    std::unique_ptr<CBaseStore> clone(store.Clone());
    ASSERT_TRUE(clone);
    EXPECT_NE(dynamic_cast<CUserStore*>(clone.get()), nullptr);
    EXPECT_EQ(clone->GetType(), static_cast<DWORD>(REG_BINARY));
    EXPECT_STREQ(clone->GetKeyName(), L"Software\\TolvaTest\\Clone");
    store.SetString(L"k", L"changed");
    EXPECT_EQ(ValueOf(*clone, L"k"), L"v");

    CAdminStore admin(nullptr, L"Watermark", REG_SZ);
    admin.SetString(L"old", L"gone");
    admin.CopyFrom(&store);
    EXPECT_EQ(admin.Count(), 1u);
    EXPECT_EQ(ValueOf(admin, L"k"), L"changed");
    admin.CopyFrom(nullptr);
    EXPECT_EQ(admin.Count(), 1u);
}

class AdminStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(printer.Ok()) << printer.Error(); }
    TestPrinter printer{FixturePath(L"tolva-minimal.ppd")};
    tolvatest::PrinterDataSeam seam;
};

TEST_F(AdminStoreTest, BinaryAndTextRoundTrip) {
    CAdminStore binary(printer.Handle(), L"{bin}", REG_BINARY);
    const wchar_t raw[] = {L'a', L'\0', L'b'};
    binary.SetValue(L"raw", raw, 3);
    binary.SetString(L"text", L"hello");
    ASSERT_TRUE(binary.Save());
    CAdminStore readBinary(printer.Handle(), L"{bin}", REG_BINARY);
    ASSERT_TRUE(readBinary.Load());
    ASSERT_EQ(readBinary.Count(), 2u);
    EXPECT_EQ(readBinary.Find(L"raw")->Text(), std::wstring(raw, 3));
    EXPECT_EQ(ValueOf(readBinary, L"text"), L"hello") << "no terminator is written for binary stores";

    CAdminStore text(printer.Handle(), L"{txt}", 0);  // 0 writes REG_SZ
    text.SetValue(L"cut", raw, 3);
    ASSERT_TRUE(text.Save());
    DWORD type = 0;
    DWORD needed = 0;
    wchar_t buffer[8] = {};
    ASSERT_EQ(PrnGetDataEx(printer.Handle(), L"{txt}", L"cut", &type, buffer, sizeof(buffer), &needed),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(needed, 4u) << "text up to the embedded NUL, with its terminator";
}

TEST_F(AdminStoreTest, OddBinaryByteCountKeepsWholeCharacters) {
    const BYTE bytes[] = {'A', 0, 'B', 0, 'C'};
    ASSERT_EQ(PrnSetDataEx(printer.Handle(), L"{odd}", L"v", REG_BINARY, bytes, sizeof(bytes)),
              static_cast<DWORD>(ERROR_SUCCESS));
    CAdminStore store(printer.Handle(), L"{odd}", REG_BINARY);
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(ValueOf(store, L"v"), L"AB");
}

TEST_F(AdminStoreTest, UnterminatedTextEndsAtTheReturnedSize) {
    const wchar_t raw[] = {L'x', L'y'};
    ASSERT_EQ(PrnSetDataEx(printer.Handle(), L"{sz}", L"v", REG_SZ, raw, sizeof(raw)),
              static_cast<DWORD>(ERROR_SUCCESS));
    CAdminStore store(printer.Handle(), L"{sz}", REG_SZ);
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(ValueOf(store, L"v"), L"xy");
}

TEST_F(AdminStoreTest, SaveReplacesTheWholeKey) {
    CAdminStore first(printer.Handle(), L"{whole}", REG_SZ);
    first.SetString(L"stale", L"1");
    first.SetString(L"kept", L"1");
    ASSERT_TRUE(first.Save());
    CAdminStore second(printer.Handle(), L"{whole}", REG_SZ);
    second.SetString(L"kept", L"2");
    ASSERT_TRUE(second.Save());
    CAdminStore read(printer.Handle(), L"{whole}", REG_SZ);
    ASSERT_TRUE(read.Load());
    EXPECT_EQ(read.Count(), 1u);
    EXPECT_EQ(ValueOf(read, L"kept"), L"2");
    EXPECT_EQ(seam.DeletedKeys().size(), 2u);
}

TEST_F(AdminStoreTest, EmptyOrMissingKeyLoadsAsFailure) {
    CAdminStore store(printer.Handle(), L"{nothing}", REG_SZ);
    store.SetString(L"left", L"over");
    EXPECT_FALSE(store.Load());
    EXPECT_EQ(store.Count(), 0u) << "a failed load leaves the store empty";
    EXPECT_FALSE(store.Save()) << "an empty store reports failure after deleting the key";
    CAdminStore unusable(nullptr, L"{x}", REG_SZ);
    EXPECT_FALSE(unusable.Load());
    EXPECT_FALSE(unusable.Save());
    EXPECT_FALSE(unusable.Delete());
    EXPECT_TRUE(store.Delete());
}

// A key that gains a value between the size query and the read.
struct GrowingKey {
    static inline int calls = 0;
    static DWORD WINAPI Enum(HANDLE printer, LPCWSTR key, LPBYTE values, DWORD size, LPDWORD needed,
                             LPDWORD count) {
        if (++calls == 2)
            SpoolerPrinterDataCalls().setDataEx(printer, key, L"late", REG_SZ,
                                                reinterpret_cast<LPBYTE>(const_cast<wchar_t*>(L"arrived")), 16);
        return SpoolerPrinterDataCalls().enumDataEx(printer, key, values, size, needed, count);
    }
};

TEST_F(AdminStoreTest, MoreDataOnTheSecondCallRetries) {
    ASSERT_EQ(PrnSetDataEx(printer.Handle(), L"{grow}", L"early", REG_SZ, L"x", 4), static_cast<DWORD>(ERROR_SUCCESS));
    PrinterDataCalls calls = SpoolerPrinterDataCalls();
    calls.enumDataEx = &GrowingKey::Enum;
    GrowingKey::calls = 0;
    const PrinterDataCalls* previous = SetPrinterDataCalls(&calls);
    CAdminStore store(printer.Handle(), L"{grow}", REG_SZ);
    BOOL loaded = store.Load();
    SetPrinterDataCalls(previous);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(store.Count(), 2u);
    EXPECT_EQ(ValueOf(store, L"late"), L"arrived");
    EXPECT_GE(GrowingKey::calls, 3);
}

class UserStoreTest : public ::testing::Test {
protected:
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str()); }
    std::wstring base = L"Software\\TolvaTest\\Store" + std::to_wstring(GetCurrentProcessId());
    std::wstring path = base + L"\\WaterMark";
};

TEST_F(UserStoreTest, RoundTripAndEmptyKeyLoadsAsSuccess) {
    CUserStore empty(HKEY_CURRENT_USER, path.c_str(), REG_SZ);
    EXPECT_FALSE(empty.Load()) << "a missing key does not open";
    EXPECT_TRUE(empty.Save()) << "an empty store creates the key";
    EXPECT_TRUE(empty.Load()) << "a key without values loads";
    EXPECT_EQ(empty.Count(), 0u);

    CUserStore store(HKEY_CURRENT_USER, path.c_str(), REG_BINARY);
    const wchar_t raw[] = {L'1', L'\0', L'2'};
    store.SetValue(L"bin", raw, 3);
    store.SetString(L"txt", L"hello");
    ASSERT_TRUE(store.Save());
    CUserStore read(HKEY_CURRENT_USER, path.c_str(), REG_BINARY);
    ASSERT_TRUE(read.Load());
    EXPECT_EQ(read.Count(), 2u);
    EXPECT_EQ(read.Find(L"bin")->Text(), std::wstring(raw, 3));
    EXPECT_EQ(ValueOf(read, L"txt"), L"hello");
    EXPECT_TRUE(read.Delete());
    EXPECT_FALSE(read.Load());
}

TEST_F(UserStoreTest, KeyWithSubKeysIsNotSavedAndKeepsItsValues) {
    CUserStore store(HKEY_CURRENT_USER, path.c_str(), REG_SZ);
    store.SetString(L"v", L"old");
    ASSERT_TRUE(store.Save());
    HKEY child = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (path + L"\\Child").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &child,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(child);
    store.SetString(L"v", L"new");
    EXPECT_FALSE(store.Save());
    CUserStore read(HKEY_CURRENT_USER, path.c_str(), REG_SZ);
    ASSERT_TRUE(read.Load());
    EXPECT_EQ(ValueOf(read, L"v"), L"old");
}

TEST_F(UserStoreTest, ValuesReadFromTheRegistryAreCutAtTheirSize) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t unterminated[] = {L'a', L'b'};
    const BYTE odd[] = {'Z', 0, 'Q'};
    RegSetValueExW(key, L"sz", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), sizeof(unterminated));
    RegSetValueExW(key, L"odd", 0, REG_BINARY, odd, sizeof(odd));
    RegSetValueExW(key, L"none", 0, REG_SZ, nullptr, 0);
    RegCloseKey(key);
    CUserStore store(HKEY_CURRENT_USER, path.c_str(), REG_SZ);
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(ValueOf(store, L"sz"), L"ab");
    EXPECT_EQ(ValueOf(store, L"odd"), L"Z");
    EXPECT_EQ(ValueOf(store, L"none"), L"");
}

}  // namespace

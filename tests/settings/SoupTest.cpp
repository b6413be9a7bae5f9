// String soup: interning, the blob layout, refusal of crafted blobs, copying and
// concurrent interning.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "settings/StrSoup.h"

namespace {

std::vector<uint8_t> SerializeAll(const CBaseSoup& soup) {
    const uint32_t size = soup.Serialize(nullptr, 0);
    std::vector<uint8_t> blob(size);
    EXPECT_EQ(size, soup.Serialize(blob.data(), size));
    return blob;
}

uint32_t U32At(const std::vector<uint8_t>& blob, size_t offset) {
    uint32_t v;
    std::memcpy(&v, blob.data() + offset, 4);
    return v;
}

void PutU32(std::vector<uint8_t>& blob, size_t offset, uint32_t v) { std::memcpy(blob.data() + offset, &v, 4); }

std::vector<std::wstring> Contents(const CBaseSoup& soup) {
    std::vector<std::wstring> out;
    for (uint32_t i = 0; i < soup.GetCount(); ++i) out.emplace_back(soup.GetString(SoupSlotID(static_cast<int32_t>(i))));
    return out;
}

}  // namespace

TEST(SoupSlotID, DefaultIsInvalidAndAnyNegativeIsInvalid) {
    EXPECT_TRUE(SoupSlotID().IsInvalid());
    EXPECT_EQ(-1, SoupSlotID().GetIndex());
    EXPECT_TRUE(SoupSlotID(-7).IsInvalid());
    EXPECT_TRUE(SoupSlotID(0).IsValid());
    const SoupSlotIDPair pair;
    EXPECT_EQ(SoupSlotID(-1), pair.first);
    EXPECT_EQ(SoupSlotID(-1), pair.second);
    EXPECT_NE(SoupSlotIDPair(1, 2), SoupSlotIDPair(1, 3));
}

TEST(StrSoup, InterningIsExactAndCaseSensitive) {
    CStrSoup soup;
    const SoupSlotID a = soup.FindOrAdd(L"*PageSize");
    EXPECT_EQ(a, soup.FindOrAdd(L"*PageSize"));
    EXPECT_EQ(a, soup.FindOrAdd(std::wstring(L"*PageSize")));
    const SoupSlotID b = soup.FindOrAdd(L"*pagesize");
    EXPECT_NE(a, b);
    EXPECT_EQ(2u, soup.GetCount());
    EXPECT_TRUE(soup.FindOrAdd(static_cast<const wchar_t*>(nullptr)).IsInvalid());
    EXPECT_TRUE(soup.Find(L"missing").IsInvalid());
    EXPECT_EQ(2u, soup.GetCount());
}

TEST(StrSoup, GetStringOutsideTheSoupIsNull) {
    CStrSoup soup;
    soup.FindOrAdd(L"x");
    for (int id : {-1, -2, INT32_MIN, 1, 2}) EXPECT_EQ(nullptr, soup.GetString(SoupSlotID(id))) << "id " << id;
    EXPECT_STREQ(L"x", soup.GetString(SoupSlotID(0)));
    EXPECT_EQ(nullptr, SoupString(nullptr, SoupSlotID(0)));
    EXPECT_EQ(0u, SoupCount(nullptr));
}

TEST(StrSoup, AddDoesNotMergeAndIndexNamesTheNewerSlot) {
    CStrSoup soup;
    EXPECT_EQ(SoupSlotID(0), soup.Add(L"dup"));
    EXPECT_EQ(SoupSlotID(1), soup.Add(L"dup"));
    EXPECT_EQ(SoupSlotID(1), soup.Find(L"dup"));
    EXPECT_EQ(2u, soup.GetCount());
}

TEST(SoupBlob, EmptySoupIsExactly48Bytes) {
    CStrSoup soup;
    const std::vector<uint8_t> blob = SerializeAll(soup);
    ASSERT_EQ(48u, blob.size());
    EXPECT_EQ(48u, U32At(blob, 0));
    EXPECT_EQ(0u, U32At(blob, 4));
    EXPECT_EQ(48u, U32At(blob, 8));
    EXPECT_EQ(0u, U32At(blob, 12));
    for (size_t i = 16; i < 48; ++i) EXPECT_EQ(0, blob[i]) << "byte " << i;
}

TEST(SoupBlob, TwoStringsLayout) {
    CStrSoup soup;
    soup.FindOrAdd(L"ab");
    soup.FindOrAdd(L"");
    const std::vector<uint8_t> blob = SerializeAll(soup);
    ASSERT_EQ(60u, blob.size());
    EXPECT_EQ(48u, U32At(blob, 0));
    EXPECT_EQ(8u, U32At(blob, 4));
    EXPECT_EQ(60u, U32At(blob, 8));
    EXPECT_EQ(2u, U32At(blob, 12));
    EXPECT_EQ(56u, U32At(blob, 48));
    EXPECT_EQ(59u, U32At(blob, 52));
    EXPECT_EQ(0, std::memcmp(blob.data() + 56, "ab\0\0", 4));
}

TEST(SoupBlob, BufferOneByteShortIsLeftUntouched) {
    CStrSoup soup;
    soup.FindOrAdd(L"ab");
    soup.FindOrAdd(L"");
    std::vector<uint8_t> buffer(59, 0xCD);
    EXPECT_EQ(60u, soup.Serialize(buffer.data(), 59));
    for (size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(0xCD, buffer[i]) << "byte " << i;
    EXPECT_EQ(60u, soup.Serialize(nullptr, 1000));
}

TEST(SoupBlob, TextIsStoredAsUtf8) {
    CStrSoup soup;
    soup.FindOrAdd(L"\u00e9");
    soup.FindOrAdd(L"\u20ac\U0001F600");
    const std::vector<uint8_t> blob = SerializeAll(soup);
    ASSERT_EQ(48u + 8u + 3u + 8u, blob.size());
    EXPECT_EQ(0, std::memcmp(blob.data() + 56, "\xC3\xA9\0", 3));
    EXPECT_EQ(0, std::memcmp(blob.data() + 59, "\xE2\x82\xAC\xF0\x9F\x98\x80\0", 8));

    CStrSoup back;
    ASSERT_EQ(1, back.Deserialize(blob.data(), static_cast<uint32_t>(blob.size())));
    EXPECT_EQ(Contents(soup), Contents(back));
}

TEST(SoupBlob, RoundTripKeepsSlotsAndDuplicates) {
    CStrSoup soup;
    for (const wchar_t* s : {L"*PageSize", L"A4", L"", L"Letter", L"A4"}) soup.Add(s);
    const std::vector<uint8_t> blob = SerializeAll(soup);
    CStrSoup back;
    back.FindOrAdd(L"old");
    ASSERT_EQ(1, back.Deserialize(blob.data(), static_cast<uint32_t>(blob.size())));
    EXPECT_EQ(Contents(soup), Contents(back));
    EXPECT_EQ(SoupSlotID(4), back.Find(L"A4"));  // the later duplicate, as Add leaves it
    EXPECT_TRUE(back.Find(L"old").IsInvalid());
}

TEST(SoupBlob, OffsetZeroIsAnEmptyString) {
    CStrSoup soup;
    soup.FindOrAdd(L"ab");
    soup.FindOrAdd(L"cd");
    std::vector<uint8_t> blob = SerializeAll(soup);
    PutU32(blob, 48, 0);
    CStrSoup back;
    ASSERT_EQ(1, back.Deserialize(blob.data(), static_cast<uint32_t>(blob.size())));
    ASSERT_EQ(2u, back.GetCount());
    EXPECT_STREQ(L"", back.GetString(SoupSlotID(0)));
    EXPECT_STREQ(L"cd", back.GetString(SoupSlotID(1)));
}

// A header shorter than 48 bytes reads with its missing fields zero and the
// offset table right after it.
TEST(SoupBlob, ShortHeaderPutsTheTableAfterIt) {
    std::vector<uint8_t> blob(48, 0);  // a blob is never shorter than 48 bytes
    PutU32(blob, 0, 16);
    PutU32(blob, 4, 4);
    PutU32(blob, 8, 48);
    PutU32(blob, 12, 1);
    PutU32(blob, 16, 20);
    std::memcpy(blob.data() + 20, "hi", 3);
    CStrSoup soup;
    ASSERT_EQ(1, soup.Deserialize(blob.data(), 48));
    ASSERT_EQ(1u, soup.GetCount());
    EXPECT_STREQ(L"hi", soup.GetString(SoupSlotID(0)));
    // With a header of 12 bytes the count field is missing: an empty soup.
    PutU32(blob, 0, 12);
    ASSERT_EQ(1, soup.Deserialize(blob.data(), 48));
    EXPECT_EQ(0u, soup.GetCount());
}

// Every refused blob leaves the soup exactly as it was.
TEST(SoupBlob, CraftedBlobsAreRefused) {
    CStrSoup source;
    source.FindOrAdd(L"ab");
    source.FindOrAdd(L"cd");
    const std::vector<uint8_t> good = SerializeAll(source);  // 48 + 8 + 6 = 62 bytes

    struct Case {
        const char* name;
        std::vector<uint8_t> blob;
        uint32_t size;
    };
    std::vector<Case> cases;
    cases.push_back({"47 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 47), 47});
    {
        std::vector<uint8_t> b = good;
        PutU32(b, 0, 52);
        cases.push_back({"header size 52", b, 62});
    }
    {
        std::vector<uint8_t> b = good;
        PutU32(b, 8, 63);
        cases.push_back({"total beyond size", b, 62});
    }
    {
        std::vector<uint8_t> b(64, 0);
        PutU32(b, 0, 48);
        PutU32(b, 8, 64);
        PutU32(b, 12, 0x10000000);
        cases.push_back({"count 0x10000000 in 64 bytes", b, 64});
    }
    {
        std::vector<uint8_t> b(64, 0);
        PutU32(b, 0, 48);
        PutU32(b, 8, 64);
        PutU32(b, 12, 0x40000001);  // 4 x count wraps to 4 in 32 bits
        cases.push_back({"count whose table size wraps", b, 64});
    }
    {
        std::vector<uint8_t> b = good;
        PutU32(b, 52, 62);
        cases.push_back({"offset at the end", b, 62});
    }
    {
        std::vector<uint8_t> b = good;
        PutU32(b, 52, 0xFFFFFFF0u);
        cases.push_back({"offset far outside", b, 62});
    }
    {
        std::vector<uint8_t> b = good;
        b.back() = 'x';  // last string loses its NUL
        cases.push_back({"last string without NUL", b, 62});
    }
    {
        std::vector<uint8_t> b = good;
        cases.push_back({"size cuts the table", b, 50});
    }

    for (const Case& c : cases) {
        CStrSoup soup;
        soup.FindOrAdd(L"keep");
        EXPECT_EQ(0, soup.Deserialize(c.blob.data(), c.size)) << c.name;
        ASSERT_EQ(1u, soup.GetCount()) << c.name;
        EXPECT_STREQ(L"keep", soup.GetString(SoupSlotID(0))) << c.name;
        EXPECT_EQ(SoupSlotID(0), soup.Find(L"keep")) << c.name;
    }
    CStrSoup soup;
    EXPECT_EQ(0, soup.Deserialize(nullptr, 100));
}

// A last string that runs to the very end of readable memory: reading one byte
// further would fault.
TEST(SoupBlob, StringAtTheEndOfAGuardPageIsRefusedWithoutACrash) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    uint8_t* base = static_cast<uint8_t*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &old));

    const uint32_t size = 48 + 4 + 4;
    uint8_t* blob = base + page - size;
    std::memset(blob, 0, size);
    const uint32_t fields[4] = {48, 4, size, 1};
    std::memcpy(blob, fields, sizeof fields);
    const uint32_t offset = 52;
    std::memcpy(blob + 48, &offset, 4);
    std::memcpy(blob + 52, "abcd", 4);  // no NUL before the guard page

    CStrSoup soup;
    EXPECT_EQ(0, soup.Deserialize(blob, size));
    EXPECT_EQ(0u, soup.GetCount());
    blob[size - 1] = 0;  // now "abc" ends inside
    EXPECT_EQ(1, soup.Deserialize(blob, size));
    EXPECT_STREQ(L"abc", soup.GetString(SoupSlotID(0)));
    VirtualFree(base, 0, MEM_RELEASE);
}

TEST(StrSoup, CopyFromKeepsSlotsAndSelfCopyDoesNothing) {
    CStrSoup a;
    for (const wchar_t* s : {L"x", L"y", L"z"}) a.FindOrAdd(s);
    a.CopyFrom(&a);
    EXPECT_EQ(3u, a.GetCount());
    EXPECT_STREQ(L"x", a.GetString(SoupSlotID(0)));

    CStrSoup b;
    b.FindOrAdd(L"other");
    b.CopyFrom(&a);
    EXPECT_EQ(Contents(a), Contents(b));
    EXPECT_EQ(SoupSlotID(2), b.Find(L"z"));
    EXPECT_TRUE(b.Find(L"other").IsInvalid());
    b.CopyFrom(nullptr);
    EXPECT_EQ(3u, b.GetCount());
    b.Assign(&a);
    EXPECT_EQ(3u, b.GetCount());
}

TEST(StrSoup, ClearForgetsEverything) {
    CStrSoup soup;
    soup.FindOrAdd(L"x");
    soup.Clear();
    EXPECT_EQ(0u, soup.GetCount());
    EXPECT_TRUE(soup.Find(L"x").IsInvalid());
    EXPECT_EQ(SoupSlotID(0), soup.FindOrAdd(L"y"));
}

TEST(StrSoup, FourThreadsInterningTheSameTextsGetOneSlotEach) {
    constexpr int kTexts = 1000;
    std::vector<std::wstring> texts;
    for (int i = 0; i < kTexts; ++i) texts.push_back(L"text-" + std::to_wstring(i));
    CStrSoup soup;
    std::vector<std::vector<SoupSlotID>> seen(4, std::vector<SoupSlotID>(kTexts));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            // Each thread walks the texts from a different start, so they collide.
            for (int i = 0; i < kTexts; ++i) {
                const int k = (i + t * 250) % kTexts;
                seen[t][k] = soup.FindOrAdd(texts[k].c_str());
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(static_cast<uint32_t>(kTexts), soup.GetCount());
    for (int k = 0; k < kTexts; ++k) {
        for (int t = 1; t < 4; ++t) ASSERT_EQ(seen[0][k], seen[t][k]) << "text " << k << " thread " << t;
        ASSERT_EQ(texts[k], soup.GetString(seen[0][k])) << "text " << k;
    }
}

// Serialising while another thread adds strings: every blob is complete and loads.
TEST(StrSoup, SerializeWhileAddingGivesConsistentBlobs) {
    CStrSoup soup;
    std::thread adder([&] {
        for (int i = 0; i < 3000; ++i) soup.FindOrAdd((L"grow-" + std::to_wstring(i)).c_str());
    });
    int loaded = 0;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> blob(soup.Serialize(nullptr, 0) + 4096);  // room for what is added meanwhile
        const uint32_t written = soup.Serialize(blob.data(), static_cast<uint32_t>(blob.size()));
        if (written > blob.size()) continue;  // grew past the room: nothing was written
        CStrSoup back;
        ASSERT_EQ(1, back.Deserialize(blob.data(), written)) << "round " << round;
        for (uint32_t i = 0; i < back.GetCount(); ++i)
            ASSERT_EQ(L"grow-" + std::to_wstring(i), back.GetString(SoupSlotID(static_cast<int32_t>(i))));
        ++loaded;
    }
    adder.join();
    EXPECT_GT(loaded, 0);
}

// Two soups copied from each other at the same time must not deadlock.
TEST(StrSoup, CrossCopiesDoNotDeadlock) {
    CStrSoup a, b;
    for (int i = 0; i < 50; ++i) {
        a.FindOrAdd((L"a" + std::to_wstring(i)).c_str());
        b.FindOrAdd((L"b" + std::to_wstring(i)).c_str());
    }
    std::thread one([&] {
        for (int i = 0; i < 300; ++i) a.CopyFrom(&b);
    });
    std::thread two([&] {
        for (int i = 0; i < 300; ++i) b.CopyFrom(&a);
    });
    one.join();
    two.join();
    EXPECT_EQ(50u, a.GetCount());
    EXPECT_EQ(50u, b.GetCount());
}

// Random damage to a valid blob (fixed seed): every result is either a soup whose
// strings all lie inside the blob, or a refusal that leaves the soup as it was.
TEST(SoupBlob, DamagedBlobsNeverReadOutside) {
    CStrSoup source;
    for (int i = 0; i < 40; ++i) source.FindOrAdd((L"s" + std::to_wstring(i * 37) + L"\u00e9").c_str());
    const std::vector<uint8_t> good = SerializeAll(source);
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        // An exact-size heap copy, so a read past the end is a read past the block.
        const uint32_t size = static_cast<uint32_t>(good.size() - (next() % 4 == 0 ? next() % 16 : 0));
        std::unique_ptr<uint8_t[]> blob(new uint8_t[size]);
        std::memcpy(blob.get(), good.data(), size);
        for (int k = 0, n = 1 + next() % 4; k < n; ++k) {
            const uint32_t at = next() % size;
            if (next() % 2 && at + 4 <= size) {
                const uint32_t v = next() % 3 == 0 ? 0xFFFFFFFFu - next() % 64 : next() % (size + 8);
                std::memcpy(blob.get() + at, &v, 4);
            } else {
                blob[at] = static_cast<uint8_t>(next());
            }
        }
        CStrSoup soup;
        soup.FindOrAdd(L"keep");
        if (soup.Deserialize(blob.get(), size)) {
            ++accepted;
            for (uint32_t i = 0; i < soup.GetCount(); ++i) ASSERT_NE(nullptr, soup.GetString(SoupSlotID(static_cast<int32_t>(i))));
        } else {
            ASSERT_EQ(1u, soup.GetCount()) << "round " << round;
            ASSERT_STREQ(L"keep", soup.GetString(SoupSlotID(0))) << "round " << round;
        }
    }
    EXPECT_GT(accepted, 0);
}

// Constraint sections: compiling *UIConstraints lines into the normalised forest, the two
// sections' bytes, reading them back, and the limits of one entry.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "storage/CfgSettings.h"
#include "tests/storage/CfgTestUtil.h"

using namespace cfgtest;

namespace {

// The entries of a constraint section as texts: "key option -> key option, ..." per line.
std::vector<std::string> Entries(CfgSettings* s, int section) {
    std::vector<std::string> out;
    uint32_t size = 0;
    const uint8_t* b = s->GetSectionData(section, &size);
    CBaseSoup* soup = s->GetStringSoup();
    if (!b || !soup) return out;
    auto text = [&](int32_t slot) {
        if (slot < 0) return std::string("*any*");
        const wchar_t* w = soup->GetString(SoupSlotID(slot));
        std::string n;
        for (; w && *w; ++w) n += static_cast<char>(*w);
        return n;
    };
    const uint32_t count = U32(b + 48);
    uint32_t pos = 52;
    for (uint32_t e = 0; e < count && pos + 10 <= size; ++e) {
        const uint32_t n = U16(b + pos);
        std::string line = text(static_cast<int32_t>(U32(b + pos + 2))) + " " + text(static_cast<int32_t>(U32(b + pos + 6))) + " ->";
        for (uint32_t k = 0; k < n; ++k)
            line += " " + text(static_cast<int32_t>(U32(b + pos + 10 + 8 * k))) + " " +
                    text(static_cast<int32_t>(U32(b + pos + 14 + 8 * k)));
        out.push_back(line);
        pos += 10 + 8 * n;
    }
    return out;
}

struct Compiled {
    explicit Compiled(const std::string& name, const std::string& extra) {
        const std::wstring dir = ScratchDir(std::wstring(name.begin(), name.end()));
        ppd = dir + L"\\c.ppd";
        WriteText(ppd, DuplexPPD(extra));
        d.reset(new Direct(ppd));
    }
    std::wstring ppd;
    std::unique_ptr<Direct> d;
};

TEST(CfgConstraints, OmittedOptionConstrainsAllButTheOffOption) {
    Compiled c("c-duplex", "*UIConstraints: *Duplex *InputSlot Envelope\r\n");
    CfgSettings* s = c.d->settings.get();
    ASSERT_NE(nullptr, s->GetDefaultSettings());
    EXPECT_EQ(88u, s->GetSectionSize(CFG_SECTION_CONSTRAINTS));
    const std::vector<std::string> expected = {"*Duplex DuplexNoTumble -> *InputSlot Envelope",
                                               "*Duplex DuplexTumble -> *InputSlot Envelope"};
    std::vector<std::string> got = Entries(s, CFG_SECTION_CONSTRAINTS);
    EXPECT_EQ(expected, got);
    // The header of the block.
    const uint8_t* b = s->GetSection(CFG_SECTION_CONSTRAINTS);
    EXPECT_EQ(0, U16(b));
    EXPECT_EQ(42u, U32(b + 2));
    EXPECT_EQ(88u, U32(b + 6));
    EXPECT_EQ(1u, U32(b + 10));
    EXPECT_EQ(46u, U32(b + 42));
    EXPECT_EQ(11, U16(b + 46));
    EXPECT_EQ(2u, U32(b + 48));
    // Read back into the forest.
    CfgConstraintForest* forest = s->GetConstraints(true);
    ASSERT_NE(nullptr, forest);
    EXPECT_EQ(2u, forest->GetCount());
    CBaseSoup* soup = s->GetStringSoup();
    const SoupSlotIDPair key(soup->Find(L"*Duplex"), soup->Find(L"DuplexTumble"));
    auto* leaves = forest->GetLeaves(key);
    ASSERT_NE(nullptr, leaves);
    ASSERT_EQ(1u, leaves->size());
    EXPECT_EQ(soup->Find(L"*InputSlot"), leaves->front().first);
    EXPECT_EQ(soup->Find(L"Envelope"), leaves->front().second);
    // The same forest from the cache file in a fresh object.
    Direct again(c.ppd);
    EXPECT_EQ(expected, Entries(again.settings.get(), CFG_SECTION_CONSTRAINTS));
    ASSERT_NE(nullptr, again->GetConstraints(true));
    EXPECT_EQ(2u, again->GetConstraints(true)->GetCount());
}

TEST(CfgConstraints, LineTable) {
    struct Case {
        const char* name;
        std::string lines;
        std::vector<std::string> expected;
    } cases[] = {
        {"explicit pair", "*UIConstraints: *Duplex DuplexTumble *InputSlot Envelope\r\n",
         {"*Duplex DuplexTumble -> *InputSlot Envelope"}},
        {"option the key lacks", "*UIConstraints: *Duplex Sideways *InputSlot Envelope\r\n",
         {"*Duplex DuplexNoTumble -> *InputSlot Envelope", "*Duplex DuplexTumble -> *InputSlot Envelope"}},
        {"key without a default setting", "*UIConstraints: *Duplex DuplexTumble *Stapler Top\r\n", {}},
        {"first key unknown", "*UIConstraints: *Stapler Top *Duplex DuplexTumble\r\n", {}},
        {"one token", "*UIConstraints: *Duplex\r\n", {}},
        {"both directions",
         "*UIConstraints: *Duplex DuplexTumble *InputSlot Envelope\r\n"
         "*UIConstraints: *InputSlot Envelope *Duplex DuplexTumble\r\n",
         {"*Duplex DuplexTumble -> *InputSlot Envelope", "*InputSlot Envelope -> *Duplex DuplexTumble"}},
        {"duplicate lines", 
         "*UIConstraints: *Duplex DuplexTumble *InputSlot Envelope\r\n"
         "*UIConstraints: *Duplex DuplexTumble *InputSlot Envelope\r\n",
         {"*Duplex DuplexTumble -> *InputSlot Envelope"}},
        {"non-UI line", "*NonUIConstraints: *Duplex DuplexNoTumble *InputSlot Envelope\r\n",
         {"*Duplex DuplexNoTumble -> *InputSlot Envelope"}},
    };
    int i = 0;
    for (const Case& c : cases) {
        Compiled compiled("c-table-" + std::to_string(i++), c.lines);
        CfgSettings* s = compiled.d->settings.get();
        ASSERT_NE(nullptr, s->GetDefaultSettings()) << c.name;
        EXPECT_EQ(c.expected, Entries(s, CFG_SECTION_CONSTRAINTS)) << c.name;
        EXPECT_EQ(c.expected, Entries(s, CFG_SECTION_CONSTRAINTS_ALT)) << c.name << " (no page sizes involved)";
    }
}

TEST(CfgConstraints, PageSizeAppearsUnderQVPrintSizeInTheSecondSection) {
    Compiled c("c-pagesize",
               "*OpenUI *PageSize/Page Size: PickOne\r\n*DefaultPageSize: A4\r\n"
               "*PageSize A4/A4: \"\"\r\n*PageSize Postcard/Postcard: \"\"\r\n*CloseUI: *PageSize\r\n"
               "*UIConstraints: *PageSize Postcard *Duplex DuplexTumble\r\n");
    CfgSettings* s = c.d->settings.get();
    ASSERT_NE(nullptr, s->GetDefaultSettings());
    EXPECT_EQ(std::vector<std::string>{"*PageSize Postcard -> *Duplex DuplexTumble"},
              Entries(s, CFG_SECTION_CONSTRAINTS));
    EXPECT_EQ(std::vector<std::string>{"*QVPrintSize Postcard -> *Duplex DuplexTumble"},
              Entries(s, CFG_SECTION_CONSTRAINTS_ALT));
    ASSERT_NE(nullptr, s->GetConstraints(false));
    EXPECT_EQ(1u, s->GetConstraints(false)->GetCount());
}

TEST(CfgConstraints, NoConstraintsGiveEmptySections) {
    Compiled c("c-none", "");
    CfgSettings* s = c.d->settings.get();
    EXPECT_EQ(52u, s->GetSectionSize(CFG_SECTION_CONSTRAINTS));
    EXPECT_EQ(52u, s->GetSectionSize(CFG_SECTION_CONSTRAINTS_ALT));
    ASSERT_NE(nullptr, s->GetConstraints(true));
    EXPECT_EQ(0u, s->GetConstraints(true)->GetCount());
}

TEST(CfgConstraintSection, ValidatorBoundsEveryCount) {
    auto block = [](std::vector<uint32_t> entryPairs) {
        std::vector<uint8_t> b(52, 0);
        auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
        };
        for (uint32_t n : entryPairs) {
            const size_t at = b.size();
            b.resize(at + 10 + 8 * n, 0);
            b[at] = static_cast<uint8_t>(n);
            b[at + 1] = static_cast<uint8_t>(n >> 8);
        }
        put32(2, 42);
        put32(6, static_cast<uint32_t>(b.size()));
        put32(10, 1);
        put32(42, 46);
        b[46] = 11;
        put32(48, static_cast<uint32_t>(entryPairs.size()));
        return b;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool ok;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", block({}), true});
    cases.push_back({"two entries", block({1, 3}), true});
    std::vector<uint8_t> b = block({1});
    b[48] = 2;
    cases.push_back({"count beyond bytes", b, false});
    b = block({2});
    b[52] = 3;
    cases.push_back({"pairs beyond bytes", b, false});
    b = block({1});
    b[52] = 0;
    cases.push_back({"entry without pairs", b, false});
    b = block({1});
    b.push_back(0);
    b[6] += 1;
    cases.push_back({"trailing byte", b, false});
    b = block({1});
    b[58] = 0xFF, b[59] = 0xFF, b[60] = 0xFF, b[61] = 0xFF;  // the entry's option slot -1 (any)
    cases.push_back({"entry option any", b, true});
    b = block({1});
    b[53 + 1] = 0x7F;
    cases.push_back({"slot beyond the soup", b, false});
    cases.push_back({"short", std::vector<uint8_t>(51, 0), false});
    for (const Case& c : cases)
        EXPECT_EQ(c.ok, ValidateConstraintSection(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), 16)) << c.name;
}
// Repeated lines change nothing, however many there are: the lines once (few enough rows
// for the plain sort) against the same lines followed by all of them again backwards and
// by every third once more (enough rows for the sort by slot numbers, most of them repeats).
TEST(CfgConstraints, RepeatedLinesKeepTheFirstOrder) {
    std::string keys;
    for (int k = 0; k < 8; ++k) {
        const std::string key = "*K" + std::to_string(k);
        keys += "*OpenUI " + key + ": PickOne\r\n*Default" + key.substr(1) + ": O0\r\n";
        for (int o = 0; o < 5; ++o) keys += key + " O" + std::to_string(o) + ": \"\"\r\n";
        keys += "*CloseUI: " + key + "\r\n";
    }
    std::vector<std::string> lines;
    std::set<std::string> seen;
    for (unsigned i = 0, x = 7; lines.size() < 50; ++i) {
        x = x * 1103515245u + 12345u;
        const unsigned k1 = (x >> 8) % 8, o1 = (x >> 12) % 5, k2 = (x >> 16) % 8, o2 = (x >> 20) % 5;
        if (k1 == k2) continue;
        // Now and then a line without the second option: the whole key.
        const std::string line = "*UIConstraints: *K" + std::to_string(k1) + " O" + std::to_string(o1) + " *K" +
                                 std::to_string(k2) + (i % 7 == 3 ? "" : " O" + std::to_string(o2)) + "\r\n";
        if (seen.insert(line).second) lines.push_back(line);
    }
    std::string once = keys, repeated = keys;
    for (const std::string& line : lines) once += line, repeated += line;
    for (size_t i = lines.size(); i-- > 0;) repeated += lines[i];
    for (size_t i = 0; i < lines.size(); i += 3) repeated += lines[i];

    Compiled a("c-once", once), b("c-repeated", repeated);
    for (int section : {CFG_SECTION_CONSTRAINTS, CFG_SECTION_CONSTRAINTS_ALT}) {
        const std::vector<std::string> expected = Entries(a.d->settings.get(), section);
        EXPECT_GT(expected.size(), 10u);
        EXPECT_EQ(expected, Entries(b.d->settings.get(), section));
        EXPECT_EQ(a.d->settings->GetSectionSize(section), b.d->settings->GetSectionSize(section));
    }
}

// More than 65535 pairs under one entry cannot be written with a 16-bit count: the
// compile fails instead of writing a cut count.
TEST(CfgConstraints, MoreThan65535PairsFailTheCompile) {
    std::string text;
    const int keys = 300, options = 222;
    for (int k = 0; k < keys; ++k) {
        const std::string key = "*K" + std::to_string(k);
        text += "*OpenUI " + key + ": PickOne\r\n*Default" + key.substr(1) + ": O0\r\n";
        for (int o = 0; o < options; ++o) text += key + " O" + std::to_string(o) + ": \"\"\r\n";
        text += "*CloseUI: " + key + "\r\n";
    }
    // Options 1-219 of every key against one option: 300 x 219 = 65700 pairs in one entry.
    for (int k = 0; k < keys; ++k)
        for (int o = 1; o < 220; ++o)
            text += "*UIConstraints: *Duplex DuplexTumble *K" + std::to_string(k) + " O" + std::to_string(o) + "\r\n";
    Compiled big("c-big", text);
    EXPECT_EQ(0u, big.d->settings->GetSectionSize(CFG_SECTION_CONSTRAINTS));
    EXPECT_EQ(nullptr, big.d->settings->GetDefaultSettings());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Sibling(big.ppd, L".PBJ").c_str()));

    // One key fewer stays within the limit and compiles.
    std::string fewer = text.substr(0, text.find("*UIConstraints"));
    for (int k = 0; k < keys - 1; ++k)
        for (int o = 1; o < 220; ++o)
            fewer += "*UIConstraints: *Duplex DuplexTumble *K" + std::to_string(k) + " O" + std::to_string(o) + "\r\n";
    Compiled ok("c-big-ok", fewer);
    EXPECT_EQ(52u + 10 + 8u * 299 * 219, ok.d->settings->GetSectionSize(CFG_SECTION_CONSTRAINTS));
}

}  // namespace

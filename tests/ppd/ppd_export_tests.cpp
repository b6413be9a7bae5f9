// Compiled PPD blocks: byte layouts of the group and constraint blocks and of
// every item kind, the size query, short buffers and overflowing string ids.
#include <gtest/gtest.h>

#include <locale.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ppd/PPDSettings.h"
#include "tests/ppd/PPDTestUtil.h"

using namespace PPDParser;
using ppdtest::I16;
using ppdtest::U16;
using ppdtest::U32;

// Hex of the blocks of groups 0-7 and the constraint block of tolva-minimal.ppd, one per line.
#define TOLVA_MINIMAL_BLOCKS \
    "00002A0000002A0000000000000000000000000000000000000000000000000000000000000000000000\n" \
    "01002A0000007000000003000000030000000000000000000000000000000000000000000000000000003A0000004C000000" \
    "5E0000000000000000001A000000FFFFFFFFFFFF00000100010000001A000200FFFFFFFFFFFF00000100030000001A000400" \
    "FFFFFFFFFFFF000001000500\n" \
    "02002A0000002A0000000000000000000000000000000000000000000000000000000000000000000000\n" \
    "03002A0000002A0000000000000000000000000000000000000000000000000000000000000000000000\n" \
    "04002A0000002A0000000000000000000000000000000000000000000000000000000000000000000000\n" \
    "05002A0000002A0000000000000000000000000000000000000000000000000000000000000000000000\n" \
    "06002A0000001601000007000000020000000100000001000000010000000100000001000000000000004600000066000000" \
    "86000000B8000000EA000000FC00000008010000000028000600FFFFFFFF07000200000007000800FFFFFFFF09000900FFFF" \
    "FFFF000028000A00FFFFFFFF0B00020000000B000C00FFFFFFFF0D000E00FFFFFFFF010032000F0010000000110003000000" \
    "0000000039400000000000007940000000000000F03F00000000000059400000000002003200120013000000FFFF03000000" \
    "0000000000000000000000005240000000000000E03F00000000000022400100000003001200140015001600FFFFFFFF1700" \
    "1F0004000C00180019001600400005000E001A001B00160002000200\n" \
    "07002A0000002A0000000000000000000000000000000000000000000000000000000000000000000000\n" \
    "00002A0000004800000002000000000000000000000000000000000000000000000000000000000000003200000000000000" \
    "0B0001000000060009000A000D000000000000000000\n"

namespace {

struct Parsed {
    std::shared_ptr<ppdtest::MemStore> store = std::make_shared<ppdtest::MemStore>();
    std::unique_ptr<ppdtest::CMemIOPlugIn> plugIn = std::make_unique<ppdtest::CMemIOPlugIn>(store, nullptr);
    std::unique_ptr<CPPDSettings> settings = std::make_unique<CPPDSettings>(plugIn.get());
    ppdtest::StringTable table;

    explicit Parsed(const std::string& text) {
        (*store)[L"t.ppd"] = text;
        EXPECT_TRUE(settings->Parse(L"t.ppd"));
        EXPECT_TRUE(settings->BuildGroups());
    }
    std::vector<uint8_t> Group(int group) {
        const unsigned need = settings->ExportGroup(group, &ppdtest::StringTable::Callback, &table, nullptr, 0);
        std::vector<uint8_t> bytes(need);
        const unsigned got = settings->ExportGroup(group, &ppdtest::StringTable::Callback, &table, bytes.data(), need);
        EXPECT_LE(got, need);
        bytes.resize(got);
        return bytes;
    }
    std::vector<uint8_t> Constraints() {
        const unsigned need = settings->ExportConstraints(&ppdtest::StringTable::Callback, &table, nullptr, 0);
        std::vector<uint8_t> bytes(need);
        const unsigned got = settings->ExportConstraints(&ppdtest::StringTable::Callback, &table, bytes.data(), need);
        EXPECT_LE(got, need);
        bytes.resize(got);
        return bytes;
    }
};

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

const uint8_t* Item(const std::vector<uint8_t>& block, unsigned index) {
    return block.data() + U32(block.data() + 42 + 4 * index);
}

const char kFeature[] =
    "*OpenUI *QVFeature/Feature: PickOne\r\n*DefaultQVFeature: B\r\n*QVFeature A/Alpha: \"a\"\r\n"
    "*QVFeature B/Beta: \"b\"\r\n*QVFeature C/Gamma: \"c\"\r\n*CloseUI: *QVFeature\r\n";

}  // namespace

TEST(PPDExport, EmptyGroupIs42Bytes) {
    Parsed p("*PPD-Adobe: \"4.3\"\r\n");
    for (int group : {0, 2, 3, 4, 5, 6, 7}) {
        const std::vector<uint8_t> block = p.Group(group);
        ASSERT_EQ(block.size(), 42u) << "group " << group;
        EXPECT_EQ(U16(block.data()), group);
        EXPECT_EQ(U32(block.data() + 2), 42u);
        EXPECT_EQ(U32(block.data() + 6), 42u);
        EXPECT_EQ(U32(block.data() + 10), 0u);
        for (int k = 0; k < 7; ++k) EXPECT_EQ(U32(block.data() + 14 + 4 * k), 0u);
    }
}

TEST(PPDExport, OptionsWithDefaultAmongThem) {
    // The feature's *OpenUI value is its one other value. Options carry no
    // *OpenUI statement here so the item has exactly the three options.
    Parsed p("*DefaultQVFeature: B\r\n*QVFeature A/Alpha: \"a\"\r\n*QVFeature B/Beta: \"b\"\r\n"
             "*QVFeature C/Gamma: \"c\"\r\n");
    const unsigned query = p.settings->ExportGroup(1, &ppdtest::StringTable::Callback, &p.table, nullptr, 0);
    EXPECT_EQ(query, 42u + 4 + 48) << "the size query reckons room for a synthetic default";
    const std::vector<uint8_t> block = p.Group(1);
    ASSERT_EQ(block.size(), 42u + 4 + 40);
    EXPECT_EQ(U32(block.data() + 6), block.size());
    EXPECT_EQ(U32(block.data() + 10), 1u);
    EXPECT_EQ(U32(block.data() + 14), 1u) << "one option item";
    EXPECT_EQ(U32(block.data() + 42), 46u);
    const uint8_t* item = Item(block, 0);
    EXPECT_EQ(U16(item), 0);
    EXPECT_EQ(U16(item + 2), 48) << "the size field reckons the synthetic default";
    EXPECT_EQ(p.table.Text(I16(item + 4)), L"*QVFeature");
    EXPECT_EQ(I16(item + 6), -1) << "no translation";
    EXPECT_EQ(I16(item + 8), -1);
    EXPECT_EQ(I16(item + 10), p.table.Id(L"B"));
    EXPECT_EQ(U16(item + 12), 3);
    EXPECT_EQ(U16(item + 14), 0);
    const wchar_t* names[][3] = {{L"A", L"Alpha", L"a"}, {L"B", L"Beta", L"b"}, {L"C", L"Gamma", L"c"}};
    for (int i = 0; i < 3; ++i) {
        const uint8_t* o = item + 16 + 8 * i;
        EXPECT_EQ(p.table.Text(I16(o)), names[i][0]);
        EXPECT_EQ(p.table.Text(I16(o + 2)), names[i][1]);
        EXPECT_EQ(p.table.Text(I16(o + 4)), names[i][2]);
        EXPECT_EQ(I16(o + 6), I16(o + 4));
    }
    EXPECT_EQ(p.table.flags[static_cast<size_t>(p.table.Id(L"*QVFeature"))], 1);
    EXPECT_EQ(p.table.flags[static_cast<size_t>(p.table.Id(L"Alpha"))], 0);
}

TEST(PPDExport, DefaultThatIsNoOptionAddsASyntheticOption) {
    Parsed p("*DefaultQVFeature: D\r\n*QVFeature A: \"a\"\r\n*QVFeature B: \"b\"\r\n*QVFeature C: \"c\"\r\n");
    const std::vector<uint8_t> block = p.Group(1);
    ASSERT_EQ(block.size(), 42u + 4 + 48);
    const uint8_t* item = Item(block, 0);
    EXPECT_EQ(U16(item + 2), 48);
    EXPECT_EQ(U16(item + 12), 4);
    const uint8_t* synthetic = item + 16 + 24;
    EXPECT_EQ(I16(synthetic), p.table.Id(L"D"));
    EXPECT_EQ(I16(synthetic + 2), -1);
    EXPECT_EQ(I16(synthetic + 4), -1);
    EXPECT_EQ(I16(synthetic + 6), -1);
}

TEST(PPDExport, FeatureValuesAreOtherValues) {
    Parsed p(kFeature);
    const std::vector<uint8_t> block = p.Group(5);
    ASSERT_EQ(U32(block.data() + 10), 1u);
    const uint8_t* item = Item(block, 0);
    EXPECT_EQ(p.table.Text(I16(item + 6)), L"Feature");
    EXPECT_EQ(U16(item + 14), 1);
    EXPECT_EQ(U16(item + 2), 24 + 3 * 8 + 2);
    EXPECT_EQ(p.table.Text(I16(item + 16 + 24)), L"PickOne");
    EXPECT_EQ(block.size(), 42u + 4 + 16 + 24 + 2);
}

TEST(PPDExport, ItemKindsAndTheirNumbers) {
    Parsed p("*%VYRUI_Range *QVScale/Scaling: (25;400;1;100): \"<*QVScale> VYRscale\"\r\n"
             "*%VYRUI_FloatRange *QVMargin/Margin: (0;72;0.5;9;1): \"\"\r\n"
             "*%VYRUI_FloatRange *QVDef/Def: (0;72;0.5;9;3): \"\"\r\n*%VYRUI_DefaultQVDef: 12.5\r\n"
             "*%VYRUI_JobNote *QVJobNote/Note: 31:\r\n*%VYRUI_DefaultQVJobNote: Hello\r\n"
             "*%VYRUI_JobNote *QVThree/Three: 127:|UTF8\r\n*%VYRUI_JobNote *QVThree/Three: comment\r\n"
             "*%VYRUI_JobNote *QVThree/Three: invoke\r\n"
             "*%VYRUI_StringSoup *QVNoteSoup/Note Texts: 64:\r\n"
             "*%VYRUI_MixedMedia *QVMixedMedia/Mixed Media: (8;3):\r\n"
             "*%VYRUI_Range *QVBad/Bad: 25;400: \"x\"\r\n");
    const std::vector<uint8_t> block = p.Group(6);
    ASSERT_EQ(U32(block.data() + 10), 7u) << "the malformed range writes nothing";
    EXPECT_EQ(U32(block.data() + 14 + 4 * 1), 1u);
    EXPECT_EQ(U32(block.data() + 14 + 4 * 2), 2u);
    EXPECT_EQ(U32(block.data() + 14 + 4 * 3), 2u);
    EXPECT_EQ(U32(block.data() + 14 + 4 * 4), 1u);
    EXPECT_EQ(U32(block.data() + 14 + 4 * 5), 1u);
    EXPECT_EQ(block.size(), 42u + 4 * 8 + 3 * 50 + 2 * 18 + 12 + 14);
    auto f64 = [](const uint8_t* q) {
        double d;
        memcpy(&d, q, 8);
        return d;
    };

    const uint8_t* scale = Item(block, 0);
    EXPECT_EQ(U16(scale), 1);
    EXPECT_EQ(U16(scale + 2), 50);
    EXPECT_EQ(p.table.Text(I16(scale + 4)), L"*QVScale");
    EXPECT_EQ(p.table.Text(I16(scale + 6)), L"Scaling");
    EXPECT_EQ(U16(scale + 8), 0);
    EXPECT_EQ(p.table.Text(I16(scale + 10)), L"<*QVScale> VYRscale");
    EXPECT_EQ(U16(scale + 12), 3);
    EXPECT_EQ(f64(scale + 14), 25.0);
    EXPECT_EQ(f64(scale + 22), 400.0);
    EXPECT_EQ(f64(scale + 30), 1.0);
    EXPECT_EQ(f64(scale + 38), 100.0);
    EXPECT_EQ(static_cast<int32_t>(U32(scale + 46)), 0);

    const uint8_t* margin = Item(block, 1);
    EXPECT_EQ(U16(margin), 2);
    EXPECT_EQ(I16(margin + 10), -1) << "an empty template";
    EXPECT_EQ(f64(margin + 30), 0.5);
    EXPECT_EQ(f64(margin + 38), 9.0);
    EXPECT_EQ(static_cast<int32_t>(U32(margin + 46)), 1);
    const uint8_t* def = Item(block, 2);
    EXPECT_EQ(f64(def + 38), 12.5) << "the default statement wins over the fourth number";
    EXPECT_EQ(static_cast<int32_t>(U32(def + 46)), 3);

    const uint8_t* note = Item(block, 3);
    EXPECT_EQ(U16(note), 3);
    EXPECT_EQ(U16(note + 2), 18);
    EXPECT_EQ(p.table.Text(I16(note + 8)), L":");
    EXPECT_EQ(I16(note + 10), -1);
    EXPECT_EQ(I16(note + 12), -1);
    EXPECT_EQ(p.table.Text(I16(note + 14)), L"Hello");
    EXPECT_EQ(I16(note + 16), 31);
    const uint8_t* three = Item(block, 4);
    EXPECT_EQ(p.table.Text(I16(three + 8)), L":|UTF8");
    EXPECT_EQ(p.table.Text(I16(three + 10)), L"invoke") << "with three lines the third is the second text";
    EXPECT_EQ(p.table.Text(I16(three + 12)), L"comment");
    EXPECT_EQ(I16(three + 14), -1);
    EXPECT_EQ(I16(three + 16), 127);

    const uint8_t* soup = Item(block, 5);
    EXPECT_EQ(U16(soup), 4);
    EXPECT_EQ(U16(soup + 2), 12);
    EXPECT_EQ(p.table.Text(I16(soup + 8)), L":");
    EXPECT_EQ(I16(soup + 10), 64);

    const uint8_t* media = Item(block, 6);
    EXPECT_EQ(U16(media), 5);
    EXPECT_EQ(U16(media + 2), 14);
    EXPECT_EQ(p.table.Text(I16(media + 8)), L":");
    EXPECT_EQ(I16(media + 10), 8);
    EXPECT_EQ(I16(media + 12), 3);
}

TEST(PPDExport, NumbersIgnoreTheHostLocale) {
    if (!setlocale(LC_NUMERIC, "German")) GTEST_SKIP() << "no German locale";
    if (_wtof(L"0.5") == 0.5) {
        setlocale(LC_NUMERIC, "C");
        GTEST_SKIP() << "the German locale here reads decimal points";
    }
    Parsed p("*%VYRUI_FloatRange *QVMargin/Margin: (0;72;0.5;9.25;1): \"\"\r\n");
    const std::vector<uint8_t> block = p.Group(6);
    setlocale(LC_NUMERIC, "C");
    ASSERT_EQ(U32(block.data() + 10), 1u);
    double step, fourth;
    memcpy(&step, Item(block, 0) + 30, 8);
    memcpy(&fourth, Item(block, 0) + 38, 8);
    EXPECT_EQ(step, 0.5);
    EXPECT_EQ(fourth, 9.25);
}

TEST(PPDExport, ConstraintBlock) {
    Parsed none("*PPD-Adobe: \"4.3\"\r\n");
    const std::vector<uint8_t> empty = none.Constraints();
    ASSERT_EQ(empty.size(), 50u);
    EXPECT_EQ(U16(empty.data()), 0);
    EXPECT_EQ(U32(empty.data() + 2), 42u);
    EXPECT_EQ(U32(empty.data() + 6), 50u);
    EXPECT_EQ(U32(empty.data() + 10), 2u);
    EXPECT_EQ(U32(empty.data() + 42), 0u);
    EXPECT_EQ(U32(empty.data() + 46), 0u);

    Parsed p("*UIConstraints: *PageSize A5 *InputSlot LargeCapacity\r\n*UIConstraints: *Duplex *TolvaDuplexUnit\r\n"
             "*UIConstraints: *Alone\r\n*UIConstraints: *A x *B y extra tokens\r\n"
             "*NonUIConstraints: *C z *D\r\n");
    const std::vector<uint8_t> block = p.Constraints();
    const uint32_t ui = U32(block.data() + 42);
    const uint32_t nonUI = U32(block.data() + 46);
    ASSERT_EQ(ui, 50u);
    EXPECT_EQ(U16(block.data() + ui), kIdUIConstraints);
    ASSERT_EQ(U32(block.data() + ui + 2), 3u) << "the one-token line is left out";
    const uint8_t* line = block.data() + ui + 6;
    EXPECT_EQ(p.table.Text(I16(line)), L"*PageSize");
    EXPECT_EQ(p.table.Text(I16(line + 2)), L"A5");
    EXPECT_EQ(p.table.Text(I16(line + 4)), L"*InputSlot");
    EXPECT_EQ(p.table.Text(I16(line + 6)), L"LargeCapacity");
    line += 8;
    EXPECT_EQ(p.table.Text(I16(line)), L"*Duplex") << "tokens fill the ids in the order they come";
    EXPECT_EQ(p.table.Text(I16(line + 2)), L"*TolvaDuplexUnit");
    EXPECT_EQ(I16(line + 4), -1);
    EXPECT_EQ(I16(line + 6), -1);
    line += 8;
    EXPECT_EQ(p.table.Text(I16(line + 6)), L"y") << "at most four tokens";
    line += 8;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(line[i], 0);
    EXPECT_EQ(nonUI, ui + 14 + 3 * 8);
    EXPECT_EQ(U16(block.data() + nonUI), kIdNonUIConstraints);
    EXPECT_EQ(U32(block.data() + nonUI + 2), 1u);
    EXPECT_EQ(block.size(), nonUI + 14 + 8u);
    EXPECT_EQ(U32(block.data() + 6), block.size());
}

TEST(PPDExport, ShortBuffersAreNeverOverrun) {
    Parsed p(std::string(kFeature) + "*%VYRUI_Range *QVScale/Scaling: (25;400;1;100): \"x\"\r\n"
                                      "*UIConstraints: *QVFeature A *QVScale\r\n");
    struct Case {
        const char* name;
        int group;  // -1: the constraint block
    };
    for (const Case& c : {Case{"group 5", 5}, Case{"group 6", 6}, Case{"constraints", -1}}) {
        auto exportTo = [&](uint8_t* buffer, unsigned size) {
            return c.group < 0 ? p.settings->ExportConstraints(&ppdtest::StringTable::Callback, &p.table, buffer, size)
                               : p.settings->ExportGroup(c.group, &ppdtest::StringTable::Callback, &p.table, buffer, size);
        };
        const unsigned need = exportTo(nullptr, 0);
        ASSERT_GT(need, 50u) << c.name;
        for (unsigned shortBy : {1u, 2u, 9u, need - 45}) {
            const unsigned size = need - shortBy;
            std::vector<uint8_t> buffer(size + 64, 0xCC);
            const unsigned got = exportTo(buffer.data(), size);
            for (size_t i = size; i < buffer.size(); ++i)
                ASSERT_EQ(buffer[i], 0xCC) << c.name << ", short by " << shortBy << ": guard byte " << i - size;
            if (got <= size) {
                // Only the option item reckons 8 bytes it may not need.
                EXPECT_EQ(U32(buffer.data() + 6), got) << c.name << ", short by " << shortBy;
            } else {
                EXPECT_GE(got, size) << c.name << ": reports what it needs";
            }
        }
    }
}

TEST(PPDExport, BadArgumentsAndOverflowingIdsGiveZero) {
    Parsed p(kFeature);
    uint8_t buffer[256];
    EXPECT_EQ(p.settings->ExportGroup(5, nullptr, &p.table, buffer, sizeof(buffer)), 0u);
    EXPECT_EQ(p.settings->ExportGroup(5, &ppdtest::StringTable::Callback, nullptr, buffer, sizeof(buffer)), 0u);
    EXPECT_EQ(p.settings->ExportGroup(8, &ppdtest::StringTable::Callback, &p.table, buffer, sizeof(buffer)), 0u);
    EXPECT_EQ(p.settings->ExportGroup(-1, &ppdtest::StringTable::Callback, &p.table, buffer, sizeof(buffer)), 0u);
    EXPECT_EQ(p.settings->ExportConstraints(nullptr, &p.table, buffer, sizeof(buffer)), 0u);

    // A string table past 32767 entries cannot give 16-bit ids: the export fails.
    struct Big {
        static int Callback(void*, const wchar_t* text, int) { return text && *text ? 40000 : -1; }
    };
    int dummy = 0;
    EXPECT_EQ(p.settings->ExportGroup(5, &Big::Callback, &dummy, buffer, sizeof(buffer)), 0u);
    Parsed c("*UIConstraints: *A x *B y\r\n");
    EXPECT_EQ(c.settings->ExportConstraints(&Big::Callback, &dummy, buffer, sizeof(buffer)), 0u);
}

TEST(PPDExport, MinimalFixtureBytesAreTheSameInBothWidths) {
    const std::string text =
        ppdtest::ReadBytes(std::wstring(TOLVA_SOURCE_DIR_W) + L"\\tests\\ppd\\data\\tolva-minimal.ppd");
    ASSERT_FALSE(text.empty());
    Parsed p(text);
    std::string all;
    for (int group = 0; group < kGroupCount; ++group) all += Hex(p.Group(group)) + "\n";
    all += Hex(p.Constraints()) + "\n";
    // The string order of the fixture (after the locale code the settings cache
    // interns first): keyword, translation, default, then each option's name,
    // translation and value, then the other values.
    const wchar_t* soup[] = {L"*PPD-Adobe", L"4.3", L"*LanguageVersion", L"English", L"*ShortNickName",
                             L"Tolva Minimal", L"*QVColorMode", L"CMYK", L"Color", L"Grayscale", L"*QVDuplex",
                             L"False", L"Off", L"TopTop", L"Long Edge", L"*QVScale", L"Scaling",
                             L"<*QVScale> VYRscale", L"*QVBookMarginFloatPoints", L"Margin", L"*QVJobNote", L"Note",
                             L":", L"Hello", L"*QVNoteSoup", L"Note Texts", L"*QVMixedMedia", L"Mixed Media"};
    ASSERT_EQ(p.table.texts.size(), sizeof(soup) / sizeof(soup[0]));
    for (size_t i = 0; i < p.table.texts.size(); ++i) EXPECT_EQ(p.table.texts[i], soup[i]) << "string " << i;
    // Recorded from the x64 build; the x86 build must give the same bytes.
    const char* expected = TOLVA_MINIMAL_BLOCKS;
    EXPECT_EQ(all, expected);
}

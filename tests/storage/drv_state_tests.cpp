// The driver state over the sample PPD (with its language module) installed as the data
// file of a Wine printer: the load order and its precedence, the printer's stored settings
// with the mirrored two-way flags, the private block, the public DEVMODE mappings and the
// core driver's option list.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "settings/DrvStateAccess.h"
#include "settings/KeyNoteSetting.h"
#include "settings/KeyOptSetting.h"
#include "settings/KeyRangeSetting.h"
#include "settings/KeySoupSetting.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/Devmode.h"
#include "storage/DrvState.h"
#include "storage/PrinterData.h"
#include "storage/PrnRegUtil.h"
#include "storage/Store.h"
#include "tests/support/PrinterDataSeam.h"
#include "tests/storage/CfgTestUtil.h"
#include "tests/storage/FailingAllocation.h"
#include "tests/support/TestPrinter.h"

using tolvatest::FixturePath;
using tolvatest::TestPrinter;
using tolvatest::TestPrinterSetup;

namespace {

TestPrinterSetup SampleSetup() {
    TestPrinterSetup setup;
    setup.dataFile = FixturePath(L"tolva-sample.ppd");
    setup.companions.push_back({std::wstring(TOLVA_LAN_DIR_W) + L"\\tolva-sample.LAN", L"{stem}.LAN"});
    return setup;
}

class DrvStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        settings = AcquireCfgSettings(printer.DataFile().c_str());
        ASSERT_NE(settings, nullptr);
        state = std::make_unique<CBaseDrvState>(settings);
        ASSERT_TRUE(state->IsValid());
    }
    void TearDown() override {
        state.reset();
        if (settings)
            ReleaseCfgSettings(printer.DataFile().c_str(), settings);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\VYR\\PrinterProps\\" + printer.DriverName()).c_str());
    }
    void Register() {
        InitialisePrinterRegistry(printer.Handle());
        RegisterPrinterClient(printer.Handle(), printer.PrinterName().c_str(), TRUE);
        WText id(GetPrinterClientId(printer.Handle(), true));
        ASSERT_TRUE(id);
        clientId = id.get();
    }
    // Defaults of the load sequence's sections.
    KVCache Defaults() {
        KVCache cache;
        for (int s : {1, 2, 5, 3, 4})
            settings->LoadSectionSettings(s, &cache, nullptr, nullptr);
        return cache;
    }
    std::wstring Option(const KVCache& cache, const wchar_t* key) {
        const wchar_t* text = state->GetOptionText(&cache, key);
        return text ? text : L"<none>";
    }
    double Copies(const KVCache& cache) {
        auto* range = dynamic_cast<CKeyRangeSetting*>(cache.Find(state->GetSoup()->Find(L"*num copies")));
        return range ? range->GetValueInUnit(range->GetUnit()) : -1;
    }
    void SetCopies(KVCache& cache, double value) {
        auto* range = dynamic_cast<CKeyRangeSetting*>(cache.Find(state->GetSoup()->Find(L"*num copies")));
        ASSERT_NE(range, nullptr);
        std::unique_ptr<CKeySetting> copy(range->Clone());
        static_cast<CKeyRangeSetting*>(copy.get())->SetValue(value, range->GetUnit());
        cache.Set(copy.get());
    }
    std::vector<uint8_t> PrivateBlock(const KVCache& values) {
        uint32_t size = CDevmode::GetRequiredSize(settings);
        std::vector<uint8_t> block(size);
        EXPECT_TRUE(CDevmode::WriteDefaults(block.data(), size, settings));
        KVCache copy(values);
        DevmodeSet set;
        set.privateBlock = block.data();
        EXPECT_TRUE(state->SavePrivateDevmode(settings, set, &copy));
        return block;
    }

    TestPrinter printer{SampleSetup()};
    tolvatest::PrinterDataSeam seam;
    CfgSettings* settings = nullptr;
    std::unique_ptr<CBaseDrvState> state;
    std::wstring clientId;
};

TEST_F(DrvStateTest, WatermarkStoreIsNamedByTheShortNickName) {
    EXPECT_STREQ(state->GetWatermarkStorePath(),
                 L"Software\\VYR\\Quillet\\LocalWaterMarkData\\Printers\\Tolva Sample 9000\\WaterMark");
    WText nick(ReadShortNickName(printer.DataFile().c_str()));
    ASSERT_TRUE(nick);
    EXPECT_STREQ(nick.get(), L"Tolva Sample 9000");
    EXPECT_EQ(ReadShortNickName(nullptr), nullptr);
}

TEST_F(DrvStateTest, KeysReachTheStateThroughTheRegisteredAccessors) {
    EXPECT_EQ(DrvStateSoup(state.get()), state->GetSoup());
    EXPECT_EQ(DrvStateKeyForest(state.get()), state->GetKeyForest());
    EXPECT_EQ(DrvStateCurrentSettings(state.get()), state->GetCurrentSettings());
    EXPECT_EQ(DrvStateOutputCodePage(state.get()), state->GetCodePage());
    ASSERT_NE(DrvStatePPDPath(state.get()), nullptr);
    EXPECT_EQ(_wcsicmp(DrvStatePPDPath(state.get()), printer.DataFile().c_str()), 0);
    ASSERT_NE(GetCfgSettingsPPDPath(settings), nullptr);
    EXPECT_EQ(_wcsicmp(GetCfgSettingsPPDPath(settings), printer.DataFile().c_str()), 0);
    // *VYRFlags became an option key with one option per listed key.
    SoupSlotID flags = state->GetSoup()->Find(L"*VYRFlags");
    ASSERT_TRUE(flags.IsValid());
    ASSERT_NE(state->GetKeyForest()->GetLeaves(flags), nullptr);
    EXPECT_EQ(state->GetKeyForest()->GetLeaves(flags)->size(), 3u);
}

TEST_F(DrvStateTest, LoadPrecedenceOneKeyPerLayer) {
    Register();
    // Printer settings: *TwoWayComm True (the core options below say False).
    KVCache stored = Defaults();
    ASSERT_TRUE(state->SetOptionByText(&stored, L"*TwoWayComm", L"True"));
    ASSERT_TRUE(state->SavePrinterSettings(settings, printer.Handle(), &stored));
    // Private block: *QVPrintSize A3 (core says A4) and 5 copies (the public DEVMODE says 3).
    KVCache privateValues = Defaults();
    ASSERT_TRUE(state->SetOptionByText(&privateValues, L"*QVPrintSize", L"A3"));
    SetCopies(privateValues, 5);
    std::vector<uint8_t> block = PrivateBlock(privateValues);
    // Core options: *Duplex (no later layer has it), *TwoWayComm, *QVPrintSize.
    const char core[] = "Duplex\0DuplexNoTumble\0TwoWayComm\0False\0QVPrintSize\0A4\0";
    DEVMODEW devmode = {};
    devmode.dmSize = sizeof(devmode);
    devmode.dmCopies = 3;
    devmode.dmOrientation = 2;

    DevmodeSet set;
    set.privateBlock = block.data();
    set.printer = printer.Handle();
    set.publicDevmode = &devmode;
    ASSERT_TRUE(state->LoadAll(settings, set, core, sizeof(core)));
    KVCache& current = *state->GetCurrentSettings();
    EXPECT_EQ(Option(current, L"*InputSlot"), L"Tray1") << "defaults where no layer speaks";
    EXPECT_EQ(Option(current, L"*Duplex"), L"DuplexNoTumble") << "core options over defaults";
    EXPECT_EQ(Option(current, L"*TwoWayComm"), L"True") << "printer settings over core options";
    EXPECT_EQ(Option(current, L"*QVPrintSize"), L"A3") << "private block over core options";
    EXPECT_EQ(Copies(current), 3) << "public DEVMODE over private block";
    EXPECT_EQ(Option(current, L"*!dmOrientation"), L"Landscape");
}

TEST_F(DrvStateTest, CustomPageSizeFromThePublicDevmode) {
    KVCache cache = Defaults();
    SoupSlotID pageSize = state->GetSoup()->Find(L"*PageSize");
    auto* page = dynamic_cast<CKeyOptSetting*>(cache.Find(pageSize));
    ASSERT_NE(page, nullptr);
    std::unique_ptr<CKeySetting> custom(page->Clone());
    custom->SetValueId(state->GetSoup()->FindOrAdd(L"CustomPageSize"));
    cache.Set(custom.get());
    DEVMODEW devmode = {};
    devmode.dmPaperWidth = 2100;
    devmode.dmPaperLength = 2970;
    ASSERT_TRUE(state->LoadPublicDevmode(settings, &devmode, &cache));
    auto* note = dynamic_cast<CKeyNoteSetting*>(cache.Find(state->GetSoup()->Find(L"*%CustomPageSize")));
    ASSERT_NE(note, nullptr);
    EXPECT_STREQ(note->GetNoteText(), L"595.28 841.89");

    // The core options carry the custom size right after the page size.
    unsigned size = state->BuildCoreOptions(&cache, nullptr, 0);
    std::vector<char> list(size);
    ASSERT_EQ(state->BuildCoreOptions(&cache, list.data(), size), size);
    std::string text(list.data(), size);
    std::string expected = std::string("PageSize") + '\0' + "CustomPageSize" + '\0' + "%CustomPageSize" + '\0' +
                           "595.28 841.89" + '\0';
    EXPECT_NE(text.find(expected), std::string::npos);
}

TEST_F(DrvStateTest, PublicDevmodeMappingsAndClamps) {
    KVCache cache = Defaults();
    DEVMODEW devmode = {};
    devmode.dmDuplex = 2;  // mapped: the sample PPD holds *UpdatePublicDevmode
    devmode.dmColor = 7;   // matches no row
    devmode.dmTTOption = 4;
    devmode.dmOrientation = 99;  // matches no row
    devmode.dmCopies = 0;
    ASSERT_TRUE(state->LoadPublicDevmode(settings, &devmode, &cache));
    EXPECT_EQ(Option(cache, L"*QVDuplex"), L"TopTop");
    EXPECT_EQ(Option(cache, L"*QVColorMode"), L"CMYK") << "an unmatched value keeps the setting";
    EXPECT_EQ(Option(cache, L"*!dmTTOption"), L"DMTT_DOWNLOAD_OUTLINE");
    EXPECT_EQ(Option(cache, L"*!dmOrientation"), L"Portrait");
    EXPECT_EQ(Copies(cache), 1) << "copies below one are clamped";
    devmode.dmCopies = 32000;
    ASSERT_TRUE(state->LoadPublicDevmode(settings, &devmode, &cache));
    EXPECT_EQ(Copies(cache), 9999) << "clamped to the key's range";

    DEVMODEW out = {};
    out.dmDuplex = 77;
    out.dmColor = 77;
    ASSERT_TRUE(state->SavePublicDevmode(settings, &out, &cache));
    EXPECT_EQ(out.dmTTOption, 4);
    EXPECT_EQ(out.dmOrientation, 1);
    EXPECT_EQ(out.dmCopies, 9999);
    EXPECT_EQ(out.dmDuplex, 2);
    EXPECT_EQ(out.dmColor, 2);
}

TEST_F(DrvStateTest, CoreOptionsIntoExactAndShortBuffers) {
    KVCache cache = Defaults();
    EXPECT_EQ(state->BuildCoreOptions(nullptr, nullptr, 0), 0u);
    const unsigned size = state->BuildCoreOptions(&cache, nullptr, 0);
    ASSERT_GT(size, 2u);
    std::vector<char> exact(size + 4, '\x7f');
    ASSERT_EQ(state->BuildCoreOptions(&cache, exact.data(), size), size);
    EXPECT_EQ(exact[size - 1], '\0');
    EXPECT_EQ(exact[size - 2], '\0') << "the last pair's NUL, then the list's";
    EXPECT_EQ(exact[size], '\x7f');
    unsigned pairs = 0, lastPair = 0;
    for (unsigned pos = 0; exact[pos]; ++pairs) {
        lastPair = pos;
        EXPECT_NE(exact[pos], '*') << "keywords lose their star";
        pos += static_cast<unsigned>(std::strlen(&exact[pos]) + 1);
        pos += static_cast<unsigned>(std::strlen(&exact[pos]) + 1);
    }
    EXPECT_GT(pairs, 5u);
    KVCache round = Defaults();
    ASSERT_TRUE(state->ApplyCoreOptions(exact.data(), size, &round));
    EXPECT_EQ(Option(round, L"*PageSize"), Option(cache, L"*PageSize"));

    std::vector<char> shorter(size + 4, '\x7f');
    EXPECT_EQ(state->BuildCoreOptions(&cache, shorter.data(), size - 1), size);
    for (unsigned i = size - 1; i < size + 4; ++i)
        EXPECT_EQ(shorter[i], '\x7f') << "no byte written past the room, at " << i;
    // Every pair but the last fits; the last is not cut into the buffer.
    EXPECT_EQ(std::memcmp(shorter.data(), exact.data(), lastPair), 0);
    EXPECT_EQ(shorter[lastPair], '\x7f');
}

TEST_F(DrvStateTest, FailedMirrorWriteKeepsTheOtherPrinterSettings) {
    Register();
    KVCache values = Defaults();
    ASSERT_TRUE(state->SetOptionByText(&values, L"*UpdateTolva", L"False"));
    seam.FailSetData(L"*TwoWayComm", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(state->SavePrinterSettings(settings, printer.Handle(), &values));

    KVCache section2;
    settings->LoadSectionSettings(2, &section2, nullptr, nullptr);
    CAdminStore stored(printer.Handle(), clientId.c_str(), REG_BINARY);
    ASSERT_TRUE(stored.Load());
    EXPECT_EQ(stored.Count(), section2.GetCount()) << "every setting of the section is kept";
    EXPECT_NE(stored.Find(L"*UpdateTolva"), nullptr);
    EXPECT_NE(stored.Find(L"*TwoWayComm"), nullptr);
    std::vector<std::wstring> names = seam.SetDataNames();
    EXPECT_NE(std::find(names.begin(), names.end(), L"*UpdateTolva"), names.end()) << "mirroring goes on";

    // The stored values load back.
    KVCache loaded = Defaults();
    ASSERT_TRUE(state->LoadPrinterSettings(settings, printer.Handle(), &loaded));
    EXPECT_EQ(Option(loaded, L"*UpdateTolva"), L"False");
}

TEST_F(DrvStateTest, MirroredPrinterDataWinsOverTheStoredEntry) {
    Register();
    KVCache values = Defaults();
    ASSERT_TRUE(state->SetOptionByText(&values, L"*TwoWayComm", L"True"));
    ASSERT_TRUE(state->SavePrinterSettings(settings, printer.Handle(), &values));
    // Other software switched the flag off through the mirrored value.
    KVCache off = Defaults();
    ASSERT_TRUE(state->SetOptionByText(&off, L"*TwoWayComm", L"False"));
    CKeySetting* flag = off.Find(state->GetSoup()->Find(L"*TwoWayComm"));
    ASSERT_NE(flag, nullptr);
    unsigned size = flag->GetData(nullptr, nullptr, 0);
    std::vector<uint8_t> bytes(size);
    flag->GetData(nullptr, bytes.data(), size);
    ASSERT_EQ(PrnSetData(printer.Handle(), L"*TwoWayComm", REG_BINARY, bytes.data(), size),
              static_cast<DWORD>(ERROR_SUCCESS));
    KVCache loaded = Defaults();
    ASSERT_TRUE(state->LoadPrinterSettings(settings, printer.Handle(), &loaded));
    EXPECT_EQ(Option(loaded, L"*TwoWayComm"), L"False");
}

TEST_F(DrvStateTest, WithoutClientIdPrinterSettingsChangeNothing) {
    KVCache values = Defaults();
    ASSERT_TRUE(state->SetOptionByText(&values, L"*TwoWayComm", L"False"));
    EXPECT_TRUE(state->SavePrinterSettings(settings, printer.Handle(), &values));
    KVCache loaded = Defaults();
    EXPECT_TRUE(state->LoadPrinterSettings(settings, printer.Handle(), &loaded));
    EXPECT_EQ(Option(loaded, L"*TwoWayComm"), L"True");
    EXPECT_TRUE(seam.SetDataNames().empty());
}

TEST_F(DrvStateTest, PrivateBlockValuesAreValidatedBeforeUse) {
    KVCache values = Defaults();
    // An option id of another key, as a damaged or foreign block would carry.
    auto* size = dynamic_cast<CKeyOptSetting*>(values.Find(state->GetSoup()->Find(L"*QVPrintSize")));
    ASSERT_NE(size, nullptr);
    std::unique_ptr<CKeySetting> wrong(size->Clone());
    wrong->SetValueId(state->GetSoup()->Find(L"Tray1"));
    ASSERT_TRUE(wrong->GetValueId().IsValid());
    values.Set(wrong.get());
    ASSERT_TRUE(state->SetOptionByText(&values, L"*QVDuplex", L"TopTop"));
    std::vector<uint8_t> block = PrivateBlock(values);

    KVCache loaded = Defaults();
    DevmodeSet set;
    set.privateBlock = block.data();
    ASSERT_TRUE(state->LoadPrivateDevmode(settings, set, &loaded));
    EXPECT_EQ(Option(loaded, L"*QVPrintSize"), L"SameAsPageSize") << "falls back to the default";
    EXPECT_EQ(Option(loaded, L"*QVDuplex"), L"TopTop") << "sound values are taken";
}

TEST_F(DrvStateTest, StepsRefuseMissingArguments) {
    DevmodeSet none;
    KVCache cache = Defaults();
    EXPECT_FALSE(state->LoadPrivateDevmode(settings, none, &cache));
    EXPECT_FALSE(state->SavePrivateDevmode(settings, none, &cache));
    EXPECT_FALSE(state->LoadPublicDevmode(settings, nullptr, &cache));
    EXPECT_FALSE(state->LoadPrinterSettings(settings, printer.Handle(), nullptr));
    EXPECT_FALSE(state->UpdateValues(nullptr));
    CBaseDrvState invalid(nullptr);
    EXPECT_FALSE(invalid.IsValid());
    EXPECT_EQ(invalid.BuildCoreOptions(&cache, nullptr, 0), 0u);
    EXPECT_EQ(GetPrinterClientId(nullptr, false), nullptr);
}

}  // namespace

namespace {

// A table cell set after a soup-string key of the same private section: its text must be in
// the private soup that key saves, or the cell reads back empty and the job loses its range.
TEST(DrvStatePrivateBlock, MixedMediaCellAfterTheSoupKeySurvivesTheBlock) {
    TestPrinter printer(FixturePath(L"tolva-minimal.ppd"));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    CfgSettingsHold hold(printer.DataFile().c_str());
    CfgSettings* settings = hold.Get();
    ASSERT_NE(settings, nullptr);
    CBaseDrvState state(settings);
    ASSERT_TRUE(state.IsValid());
    ASSERT_TRUE(state.LoadAll(settings, DevmodeSet(), nullptr, 0));

    const uint32_t size = CDevmode::GetRequiredSize(settings);
    ASSERT_EQ(size, 188u);
    std::vector<uint8_t> block(size);
    ASSERT_TRUE(CDevmode::WriteDefaults(block.data(), size, settings));
    const std::vector<uint8_t> defaults = block;
    DevmodeSet set;
    set.privateBlock = block.data();
    // Unchanged defaults keep the stored payload byte for byte.
    ASSERT_TRUE(state.SavePrivateDevmode(settings, set, state.GetCurrentSettings()));
    EXPECT_EQ(block, defaults);

    const SoupSlotID table = state.GetSoup()->Find(L"*QVMixedMedia");
    const CKeySetting* held = state.GetCurrentSettings()->Find(table);
    ASSERT_NE(held, nullptr);
    std::unique_ptr<CKeySetting> cell(held->Clone());
    ASSERT_EQ(cell->SetFromText(state.GetSoup(), state.GetKeyForest(), L"RangeNum1", L"Heavy"), 1);
    state.GetCurrentSettings()->Set(cell.get());
    ASSERT_TRUE(state.SavePrivateDevmode(settings, set, state.GetCurrentSettings()));

    CBaseDrvState reader(settings);
    ASSERT_TRUE(reader.LoadAll(settings, set, nullptr, 0));
    const auto* read = dynamic_cast<const CKeyMMediaSetting*>(reader.GetCurrentSettings()->Find(table));
    ASSERT_NE(read, nullptr);
    ASSERT_NE(read->GetCellText(1, 0), nullptr);
    EXPECT_STREQ(read->GetCellText(1, 0), L"Heavy");
    const int need = read->GetSetupCodeA(&reader, nullptr, 0);
    ASSERT_GT(need, 0);
    std::string code(static_cast<size_t>(need), '\0');
    read->GetSetupCodeA(&reader, code.data(), static_cast<unsigned>(code.size()));
    EXPECT_STREQ(code.c_str(), "%%BeginFeature: RangeNum1 Heavy\r\n  %%EmptyOption\r\n%%EndFeature\r\n");
    // Texts that no longer fit the soup's slot: the save fails and the block stays as it was.
    const std::vector<uint8_t> saved = block;
    std::unique_ptr<CKeySetting> full(read->Clone());
    for (const auto& [name, text] : {std::pair{L"RangeNum0", L"A first text of thirty letters"},
                                     std::pair{L"RangeProp0_0", L"A second text of thirty letter"},
                                     std::pair{L"RangeProp1_0", L"A third text of thirty letters"}})
        ASSERT_EQ(full->SetFromText(reader.GetSoup(), reader.GetKeyForest(), name, text), 1);
    KVCache tooMuch(*reader.GetCurrentSettings());
    tooMuch.Set(full.get());
    EXPECT_FALSE(reader.SavePrivateDevmode(settings, set, &tooMuch));
    EXPECT_EQ(block, saved);
    // The note's text, saved before the table, is still there too.
    const auto* note = dynamic_cast<const CKeyNoteSetting*>(reader.GetCurrentSettings()->Find(reader.GetSoup()->Find(L"*QVJobNote")));
    ASSERT_NE(note, nullptr);
    EXPECT_STREQ(note->GetNoteText(), L"Hello");
}

}  // namespace

namespace {

// The public DEVMODE's duplex and colour reach the settings only in a PPD that asks for it.
TEST(DrvStatePublicDevmode, DuplexAndColorOnlyWithUpdatePublicDevmode) {
    struct Case {
        const wchar_t* ppd;
        const wchar_t* duplex;
        const wchar_t* color;
    };
    const Case cases[] = {
        {L"tolva-sample.ppd", L"TopTop", L"Grayscale"},  // holds *UpdatePublicDevmode
        {L"tolva-minimal.ppd", L"False", L"CMYK"},       // does not: both keep their values
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.ppd)));
        TestPrinterSetup setup;
        setup.dataFile = FixturePath(c.ppd);
        if (std::wcscmp(c.ppd, L"tolva-sample.ppd") == 0)
            setup.companions.push_back({std::wstring(TOLVA_LAN_DIR_W) + L"\\tolva-sample.LAN", L"{stem}.LAN"});
        TestPrinter printer(setup);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        CfgSettingsHold hold(printer.DataFile().c_str());
        ASSERT_NE(hold.Get(), nullptr);
        CBaseDrvState state(hold.Get());
        ASSERT_TRUE(state.IsValid());
        ASSERT_TRUE(state.LoadAll(hold.Get(), DevmodeSet(), nullptr, 0));
        KVCache* current = state.GetCurrentSettings();
        ASSERT_STREQ(state.GetOptionText(current, L"*QVDuplex"), L"False");
        DEVMODEW devmode = {};
        devmode.dmSize = sizeof(devmode);
        devmode.dmDuplex = 2;
        devmode.dmColor = 1;
        ASSERT_TRUE(state.LoadPublicDevmode(hold.Get(), &devmode, current));
        EXPECT_STREQ(state.GetOptionText(current, L"*QVDuplex"), c.duplex);
        EXPECT_STREQ(state.GetOptionText(current, L"*QVColorMode"), c.color);
        // Saving back leaves the fields alone in the same PPD.
        DEVMODEW out = {};
        out.dmDuplex = 77;
        ASSERT_TRUE(state.SavePublicDevmode(hold.Get(), &out, current));
        EXPECT_EQ(out.dmDuplex, std::wcscmp(c.duplex, L"TopTop") == 0 ? 2 : 77);
    }
}

}  // namespace

// The printer-data "ClientID" string names the stored settings when the printer storage
// gives no key name.
TEST_F(DrvStateTest, ClientIdPrinterDataNamesTheStoreWithoutAValidatedStorage) {
    // A registered printer whose validation key is gone: the storage gives no key name.
    Register();
    WText storage(PrnGetText(printer.Handle(), L"PrinterStorage"));
    ASSERT_TRUE(storage);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(storage.get()) + L"\\ValidationKey").c_str());
    WText none(GetPrinterClientId(printer.Handle(), true));
    ASSERT_FALSE(none) << "the printer storage gives no key name";
    ASSERT_EQ(PrnSetText(printer.Handle(), L"ClientID", L"DeskClient7"), static_cast<DWORD>(ERROR_SUCCESS));
    KVCache off = Defaults();
    ASSERT_TRUE(state->SetOptionByText(&off, L"*UpdateTolva", L"False"));
    const CKeySetting* flag = off.Find(state->GetSoup()->Find(L"*UpdateTolva"));
    ASSERT_NE(flag, nullptr);
    const unsigned size = flag->GetData(nullptr, nullptr, 0);
    std::vector<uint8_t> bytes(size + 2);
    flag->GetData(nullptr, bytes.data(), size);
    {
        CAdminStore store(printer.Handle(), L"DeskClient7", REG_BINARY);
        ASSERT_TRUE(store.SetValue(L"*UpdateTolva", reinterpret_cast<const wchar_t*>(bytes.data()), (size + 1) / 2));
        ASSERT_TRUE(store.Save()) << PrnSetDataEx(printer.Handle(), L"DeskClient7", L"*UpdateTolva", REG_BINARY,
                                                  bytes.data(), size);
    }
    KVCache loaded = Defaults();
    ASSERT_EQ(Option(loaded, L"*UpdateTolva"), L"True");
    ASSERT_TRUE(state->LoadPrinterSettings(settings, printer.Handle(), &loaded));
    EXPECT_EQ(Option(loaded, L"*UpdateTolva"), L"False");

}

// A failing step stops the sequence: the later places are not written, and a failed load
// leaves the current settings as they were.
TEST_F(DrvStateTest, AFailingStepStopsTheRest) {
    ASSERT_TRUE(state->LoadAll(settings, DevmodeSet(), nullptr, 0));
    ASSERT_TRUE(state->SetOptionByText(state->GetCurrentSettings(), L"*!dmOrientation", L"Landscape"));
    // A private block pointer that no view can take (a PPD without private keys would give
    // the same): the private step fails, so the public DEVMODE is not written.
    CfgSettings* other = nullptr;
    TestPrinter plain(FixturePath(L"tolva-minimal.ppd"));
    ASSERT_TRUE(plain.Ok()) << plain.Error();
    // The state's own generation decides the private block's size; a block whose size field is
    // not that size is refused when the caller hands newer settings.
    other = AcquireCfgSettings(plain.DataFile().c_str());
    ASSERT_NE(other, nullptr);
    std::vector<uint8_t> block(CDevmode::GetRequiredSize(settings), 0);
    DevmodeSet set;
    set.privateBlock = block.data();
    DEVMODEW devmode = {};
    devmode.dmSize = sizeof(devmode);
    devmode.dmOrientation = 1;
    set.publicDevmode = &devmode;
    unsigned coreSize = 0;
    EXPECT_FALSE(state->SaveAll(other, set, nullptr, &coreSize));
    EXPECT_EQ(devmode.dmOrientation, 1) << "the public DEVMODE step did not run";
    EXPECT_EQ(std::count(block.begin(), block.end(), 0), static_cast<long>(block.size())) << "nothing written";
    ReleaseCfgSettings(plain.DataFile().c_str(), other);
    // The same sequence with a block of the right size runs to the end.
    ASSERT_TRUE(CDevmode::WriteDefaults(block.data(), static_cast<uint32_t>(block.size()), settings));
    EXPECT_TRUE(state->SaveAll(settings, set, nullptr, &coreSize));
    EXPECT_EQ(devmode.dmOrientation, 2);
}

namespace {

// Whether two caches hold the same keys with equal values.
bool SameSettings(const KVCache& a, const KVCache& b) {
    if (a.GetCount() != b.GetCount())
        return false;
    for (auto it = a.Begin(); it != a.End(); ++it) {
        const CKeySetting* setting = a.GetAt(it);
        const CKeySetting* other = setting ? b.Find(setting->GetKeyId()) : nullptr;
        if (!setting || !other || !setting->IsEqual(other))
            return false;
    }
    return true;
}

}  // namespace

// A load step that fails (an allocation fails anywhere in the sequence, from the PPD
// defaults and the core options to the public DEVMODE): the load answers false and the current settings stay as
// they were before it, whichever step it was.
TEST_F(DrvStateTest, AFailingLoadStepCommitsNothing) {
    // A printer without stored settings of its own: that step reads nothing here.
    ASSERT_TRUE(state->LoadAll(settings, DevmodeSet(), nullptr, 0));
    // The other places hold something: core options, a private block, a public DEVMODE.
    KVCache privateValues(*state->GetCurrentSettings());
    SetCopies(privateValues, 3);
    std::vector<uint8_t> block = PrivateBlock(privateValues);
    DEVMODEW devmode = {};
    devmode.dmSize = sizeof(devmode);
    devmode.dmOrientation = 2;
    devmode.dmCopies = 5;
    DevmodeSet set;
    set.printer = printer.Handle();
    set.privateBlock = block.data();
    set.publicDevmode = &devmode;

    const char core[] = "Duplex\0DuplexNoTumble\0";

    // What a load from every place gives, and how many allocations it makes.
    failalloc::FailAllocation(SIZE_MAX);
    ASSERT_TRUE(state->LoadAll(settings, set, core, sizeof(core)));
    const size_t allocations = failalloc::Counted();
    failalloc::Disarm();
    const KVCache loaded(*state->GetCurrentSettings());
    ASSERT_EQ(Copies(loaded), 5);
    ASSERT_EQ(Option(loaded, L"*Duplex"), L"DuplexNoTumble");
    ASSERT_GT(allocations, 0u);

    // The settings before each failing load: the PPD defaults with values of their own.
    ASSERT_TRUE(state->LoadAll(settings, DevmodeSet(), nullptr, 0));
    ASSERT_TRUE(state->SetOptionByText(state->GetCurrentSettings(), L"*!dmOrientation", L"Portrait"));
    SetCopies(*state->GetCurrentSettings(), 9);
    const KVCache before(*state->GetCurrentSettings());
    ASSERT_FALSE(SameSettings(before, loaded));

    // Every allocation of the load in turn: each failure fails the load and leaves the
    // settings as they were; a setting left out must never pass for a whole load.
    int failed = 0, absorbed = 0, incomplete = 0;
    for (size_t index = 0; index < allocations; ++index) {
        failalloc::FailAllocation(index);
        const bool ok = state->LoadAll(settings, set, core, sizeof(core));
        const bool fired = failalloc::Disarm();
        ASSERT_TRUE(fired) << index;
        if (!ok) {
            ++failed;
            EXPECT_TRUE(SameSettings(*state->GetCurrentSettings(), before)) << "allocation " << index << " of "
                                                                             << allocations;
        } else {
            ++absorbed;
            const bool whole = SameSettings(*state->GetCurrentSettings(), loaded);
            if (!whole)
                ++incomplete;
            ADD_FAILURE() << "allocation " << index << " of " << allocations << " failed and the load succeeded"
                          << (whole ? "" : " with settings left out");
            *state->GetCurrentSettings() = before;
        }
    }
    EXPECT_EQ(failed, static_cast<int>(allocations));
    printf("%zu allocations in a load; %d failures stopped it, %d were absorbed (%d of them left settings out)\n",
           allocations, failed, absorbed, incomplete);
    // A load that meets no failure still succeeds with everything.
    ASSERT_TRUE(state->LoadAll(settings, set, core, sizeof(core)));
    EXPECT_TRUE(SameSettings(*state->GetCurrentSettings(), loaded));
}

namespace {

// A keyword that is both a driver property (stored per printer) and a private key: the
// private block is loaded after the printer's stored settings, so its value wins.
TEST(DrvStatePrecedence, PrivateBlockOverStoredPrinterSettingsForOneKey) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring ppd = std::wstring(temp) + L"tolva-both-" + std::to_wstring(GetCurrentProcessId()) + L".ppd";
    const std::string text =
        "*PPD-Adobe: \"4.3\"\r\n*LanguageVersion: English\r\n*ShortNickName: \"Tolva Both\"\r\n"
        "*OpenGroup: DriverProperties/Driver Properties\r\n*OpenUI *QVDuplex/Duplex: PickOne\r\n"
        "*DefaultQVDuplex: False\r\n*QVDuplex False/Off: \"\"\r\n*QVDuplex TopTop/Long Edge: \"\"\r\n"
        "*CloseUI: *QVDuplex\r\n*CloseGroup: DriverProperties\r\n"
        "*%VYRUI_DefaultQVDuplex: False\r\n*%VYRUI_QVDuplex False/Off: \"\"\r\n"
        "*%VYRUI_QVDuplex TopTop/Long Edge: \"\"\r\n";
    ASSERT_TRUE(cfgtest::WriteText(ppd, text));
    {
        TestPrinter printer(ppd);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        tolvatest::PrinterDataSeam seam;
        InitialisePrinterRegistry(printer.Handle());
        RegisterPrinterClient(printer.Handle(), printer.PrinterName().c_str(), TRUE);
        CfgSettingsHold hold(printer.DataFile().c_str());
        ASSERT_NE(hold.Get(), nullptr);
        CBaseDrvState state(hold.Get());
        ASSERT_TRUE(state.IsValid());
        KVCache driverProperties, privateKeys;
        ASSERT_TRUE(hold.Get()->LoadSectionSettings(CFG_SECTION_DRIVERPROP_KEYS, &driverProperties, nullptr, nullptr));
        ASSERT_TRUE(hold.Get()->LoadSectionSettings(CFG_SECTION_VYRUI_KEYS, &privateKeys, nullptr, nullptr));
        const SoupSlotID key = state.GetSoup()->Find(L"*QVDuplex");
        ASSERT_NE(driverProperties.Find(key), nullptr) << "the printer's stored settings can hold the key";
        ASSERT_NE(privateKeys.Find(key), nullptr) << "the private block can hold it too";

        // Stored for the printer: TopTop. In the private block: False.
        ASSERT_TRUE(state.LoadAll(hold.Get(), DevmodeSet(), nullptr, 0));
        KVCache stored(*state.GetCurrentSettings());
        ASSERT_TRUE(state.SetOptionByText(&stored, L"*QVDuplex", L"TopTop"));
        ASSERT_TRUE(state.SavePrinterSettings(hold.Get(), printer.Handle(), &stored));
        std::vector<uint8_t> block(CDevmode::GetRequiredSize(hold.Get()));
        ASSERT_TRUE(CDevmode::WriteDefaults(block.data(), static_cast<uint32_t>(block.size()), hold.Get()));

        DevmodeSet printerOnly;
        printerOnly.printer = printer.Handle();
        ASSERT_TRUE(state.LoadAll(hold.Get(), printerOnly, nullptr, 0));
        EXPECT_STREQ(state.GetOptionText(state.GetCurrentSettings(), L"*QVDuplex"), L"TopTop");
        DevmodeSet both = printerOnly;
        both.privateBlock = block.data();
        ASSERT_TRUE(state.LoadAll(hold.Get(), both, nullptr, 0));
        EXPECT_STREQ(state.GetOptionText(state.GetCurrentSettings(), L"*QVDuplex"), L"False");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\VYR\\PrinterProps\\" + printer.DriverName()).c_str());
    }
    DeleteFileW(ppd.c_str());
}

}  // namespace

// A section load or a cache store that meets a failed allocation reports it: the load answers
// false (never true with a key left out), and a replaced setting whose copy fails keeps its
// old value.
TEST_F(DrvStateTest, SectionLoadsAndCacheStoresReportAFailedAllocation) {
    for (int section : {1, 2, 5, 3, 4}) {
        KVCache full;
        failalloc::FailAllocation(SIZE_MAX);
        ASSERT_TRUE(settings->LoadSectionSettings(section, &full, nullptr, nullptr)) << section;
        const size_t allocations = failalloc::Counted();
        failalloc::Disarm();
        for (size_t index = 0; index < allocations; index += index < 100 ? 1 : 1 + allocations / 200) {
            KVCache cache;
            failalloc::FailAllocation(index);
            const bool ok = settings->LoadSectionSettings(section, &cache, nullptr, nullptr);
            failalloc::Disarm();
            if (ok) {
                EXPECT_TRUE(SameSettings(cache, full))
                    << "section " << section << ", allocation " << index << " of " << allocations
                    << ": the load succeeded with " << cache.GetCount() << " of " << full.GetCount() << " keys";
            }
        }
    }

    ASSERT_TRUE(state->LoadAll(settings, DevmodeSet(), nullptr, 0));
    KVCache cache(*state->GetCurrentSettings());
    ASSERT_GT(cache.GetCount(), 0u);
    const CKeySetting* held = cache.GetAt(cache.Begin());
    std::unique_ptr<CKeySetting> replacement(held->Clone());
    ASSERT_TRUE(replacement);
    failalloc::FailAllocation(0);
    EXPECT_EQ(cache.Set(replacement.get()), 0);
    ASSERT_TRUE(failalloc::Disarm());
    ASSERT_NE(cache.Find(replacement->GetKeyId()), nullptr) << "the old setting was dropped";
    EXPECT_TRUE(cache.Find(replacement->GetKeyId())->IsEqual(replacement.get()));
    EXPECT_EQ(cache.GetCount(), state->GetCurrentSettings()->GetCount());
}

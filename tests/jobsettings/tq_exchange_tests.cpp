// What Quenta and the job-settings library exchange: the key/value arrays and their special
// keys, the page keys, the watermark list, the SMDData documents and the pictures.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"
#include "storage/Store.h"
#include "storage/XMLParser.h"
#include "tests/jobsettings/TQTestEnv.h"
#include "uiplugin/SDMInterface.h"
#include "uiplugin/TQInterface.h"
#include "uiplugin/TQManager.h"

using namespace tqtest;

namespace {

using PairMap = std::multimap<std::wstring, std::wstring>;

PairMap ToMap(const TQKeyValueArray* array) {
    PairMap map;
    if (!array) return map;
    const TQKeyValueItem* items = TQArrayItems(const_cast<TQKeyValueArray*>(array));
    for (uint64_t i = 0; i < array->count; ++i) map.emplace(items[i].keyword, items[i].value);
    return map;
}

std::vector<std::pair<std::wstring, std::wstring>> ToList(const TQKeyValueArray* array) {
    std::vector<std::pair<std::wstring, std::wstring>> list;
    const TQKeyValueItem* items = TQArrayItems(const_cast<TQKeyValueArray*>(array));
    for (uint64_t i = 0; i < array->count; ++i) list.emplace_back(items[i].keyword, items[i].value);
    return list;
}

TQKeyValueArray* MakeArray(const std::vector<std::pair<const wchar_t*, const wchar_t*>>& pairs) {
    TQKeyValueArray* array = AllocKeyValueArray(pairs.size());
    TQKeyValueItem* items = TQArrayItems(array);
    for (size_t i = 0; i < pairs.size(); ++i) {
        items[i].keyword = pairs[i].first ? StrDup(pairs[i].first) : nullptr;
        items[i].value = pairs[i].second ? StrDup(pairs[i].second) : nullptr;
    }
    return array;
}

bool WriteUtf16(const std::wstring& path, const std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const wchar_t bom = 0xFEFF;
    WriteFile(file, &bom, 2, &written, nullptr);
    WriteFile(file, text.data(), static_cast<DWORD>(text.size() * 2), &written, nullptr);
    CloseHandle(file);
    return true;
}

// Whether MSXML loads the document.
bool MsxmlLoads(const std::wstring& text) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring path = std::wstring(temp) + L"tq-smddata-" + std::to_wstring(GetCurrentProcessId()) + L".xml";
    if (!WriteUtf16(path, text)) return false;
    bool loaded = CXMLParser(path.c_str()).IsLoaded();
    DeleteFileW(path.c_str());
    return loaded;
}

size_t Occurrences(const std::wstring& text, const std::wstring& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class TQExchangeTest : public SamplePrinterSuite {
protected:
    void SetUp() override {
        ASSERT_TRUE(sample->Ok());
        state = sample->State();
        soup = state->GetSoup();
        current = *state->GetCurrentSettings();
    }
    CKeySetting* Find(const KVCache& cache, const wchar_t* keyword) const { return cache.Find(soup->Find(keyword)); }
    std::wstring Value(const KVCache& cache, const wchar_t* keyword) const {
        return TQInterface::ValueText(soup, Find(cache, keyword)).c_str();
    }
    void Set(KVCache& cache, const wchar_t* keyword, const wchar_t* value) const {
        CKeySetting* found = Find(cache, keyword);
        if (!found) found = Find(*state->GetDefaultSettings(), keyword);
        ASSERT_NE(found, nullptr) << std::string(keyword, keyword + wcslen(keyword));
        CKeySetting* clone = found->Clone();
        // "CustomPageSize" is no option of the page-size list: such values are set directly.
        if (clone->SetFromText(soup, state->GetKeyForest(), keyword, value) != 1) clone->SetValueId(soup->FindOrAdd(value));
        cache.Set(clone);
        delete clone;
    }
    PairMap Collect(const KVCache& cache, BOOL first, BOOL second) const {
        TQKeyValueArray* array = TQInterface::CollectKeyValues(soup, &cache, state->GetDefaultSettings(),
                                                               state->GetKeyForest(), first, second);
        PairMap map = ToMap(array);
        FreeKeyValueArray(array);
        return map;
    }

    CBaseDrvState* state = nullptr;
    CBaseSoup* soup = nullptr;
    KVCache current;
};

TEST_F(TQExchangeTest, SplitDropsStarsAndStopsAtTheListsEnd) {
    const wchar_t list[] = L"*Duplex\0None\0**CustomPageSize\0False\0*~QVSimulation\0SWOP\0Plain\0v\0\0";
    TQKeyValueArray* array = TQInterface::SplitKeyValueTexts(list, sizeof(list) / sizeof(list[0]));
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->items, TQArrayItems(array));
    EXPECT_EQ(ToList(array), (std::vector<std::pair<std::wstring, std::wstring>>{
                                 {L"Duplex", L"None"}, {L"CustomPageSize", L"False"}, {L"QVSimulation", L"SWOP"}, {L"Plain", L"v"}}));
    FreeKeyValueArray(array);
    // A list cut inside a value yields the pairs before it.
    TQKeyValueArray* cut = TQInterface::SplitKeyValueTexts(list, 15);
    EXPECT_EQ(cut->count, 1u);
    FreeKeyValueArray(cut);
}

TEST_F(TQExchangeTest, CompanionKeysTravelUnderTheBareName) {
    // Without a value in the companion, the plain key is sent; "*~" keys never go on their own.
    PairMap plain = Collect(current, TRUE, FALSE);
    EXPECT_EQ(plain.count(L"QVSimulation"), 1u);
    EXPECT_EQ(plain.find(L"QVSimulation")->second, L"None");
    Set(current, L"*~QVSimulation", L"MyProfile");
    PairMap withCompanion = Collect(current, TRUE, FALSE);
    ASSERT_EQ(withCompanion.count(L"QVSimulation"), 1u);
    EXPECT_EQ(withCompanion.find(L"QVSimulation")->second, L"MyProfile");
    PairMap withoutFlag = Collect(current, FALSE, FALSE);
    ASSERT_EQ(withoutFlag.count(L"QVSimulation"), 1u);
    EXPECT_EQ(withoutFlag.find(L"QVSimulation")->second, L"None");
}

TEST_F(TQExchangeTest, DynamicKeysAtTheirDefaultAreLeftOutOnlyWithBothFlags) {
    EXPECT_EQ(Collect(current, TRUE, TRUE).count(L"QVScale"), 0u);
    EXPECT_EQ(Collect(current, TRUE, FALSE).count(L"QVScale"), 1u);
    EXPECT_EQ(Collect(current, FALSE, TRUE).count(L"QVScale"), 1u);
    Set(current, L"*QVScale", L"150");
    EXPECT_EQ(Collect(current, TRUE, TRUE).count(L"QVScale"), 1u);
}

TEST_F(TQExchangeTest, ApplyTakesKnownValuesAndTurnsUnknownPageSizesCustom) {
    TQKeyValueArray* values = MakeArray({{L"Duplex", L"DuplexTumble"},
                                         {L"QVColorMode", L"Grayscale"},
                                         {L"PageSize", L"NoSuchSize"},
                                         {nullptr, L"x"},
                                         {L"Duplex", nullptr},
                                         {L"NoSuchKey", L"1"}});
    KVCache target;
    ASSERT_TRUE(TQInterface::ApplyKeyValues(values, soup, state->GetKeyForest(), &target, &current));
    EXPECT_EQ(Value(target, L"*Duplex"), L"DuplexTumble");
    EXPECT_EQ(Value(target, L"*QVColorMode"), L"Grayscale");
    EXPECT_EQ(Value(target, L"*PageSize"), L"CustomPageSize");
    FreeKeyValueArray(values);
    // A hostile header: items not after it, or a count beyond the bound.
    TQKeyValueArray bad = {5, nullptr};
    EXPECT_FALSE(TQInterface::ApplyKeyValues(&bad, soup, state->GetKeyForest(), &target, &current));
}

TEST_F(TQExchangeTest, ADecimalCommaCustomSizeRoundTrips) {
    Set(current, L"*PageSize", L"CustomPageSize");
    Set(current, L"*%CustomPageSize", L"600 800 0 0 ShortEdge");
    KVCache copy = current;
    ASSERT_TRUE(TQInterface::ExportPageKeys(&copy, soup, state->GetKeyForest(), &current));
    EXPECT_EQ(Value(copy, L"**CustomPageSize"), L"600.00 800.00");
    // The library answers with decimal commas.
    Set(copy, L"**CustomPageSize", L"595,50 842,25");
    ASSERT_TRUE(TQInterface::ImportPageKeys(&copy, soup, state->GetKeyForest(), &current));
    EXPECT_EQ(Value(copy, L"**CustomPageSize"), L"595.50 842.25");
    EXPECT_EQ(Value(copy, L"*%CustomPageSize"), L"595 842 0 0 ShortEdge");
    KVCache again = copy;
    TQInterface::ExportPageKeys(&again, soup, state->GetKeyForest(), &copy);
    EXPECT_EQ(Value(again, L"**CustomPageSize"), L"595.50 842.25");
    // Another page size clears the library's custom size.
    Set(copy, L"*PageSize", L"A4");
    TQInterface::ImportPageKeys(&copy, soup, state->GetKeyForest(), &current);
    EXPECT_EQ(Value(copy, L"**CustomPageSize"), L"False");
}

TEST_F(TQExchangeTest, WatermarksAreSortedSelectedAndRenumbered) {
    CUserStore store(HKEY_CURRENT_USER, L"Software\\TolvaTest\\NoSuchWatermarks", REG_SZ);
    store.SetString(L"2", L"Draft");
    store.SetString(L"10", L"Secret");
    store.SetString(L"3", L"Copy");
    store.SetString(L"WMInitialized", L"");
    Set(current, L"*QV_WatermarkStr", L"Copy");
    TQKeyValueArray* list = TQInterface::StoreToKeyValues(&store);
    ASSERT_EQ(list->count, 3u);
    TQInterface::SortWatermarks(list);
    TQInterface::SelectWatermark(soup, &current, list);
    TQInterface::RenumberWatermarks(list);
    EXPECT_EQ(ToList(list), (std::vector<std::pair<std::wstring, std::wstring>>{
                                {L"0", L"Draft"}, {L"1", L"Copy"}, {L"2", L"Secret"}}));
    EXPECT_EQ(Value(current, L"*QV_WATERMARK"), L"2");

    // The library's list comes back: it replaces the store, the marker last.
    CUserStore back(HKEY_CURRENT_USER, L"Software\\TolvaTest\\NoSuchWatermarks", REG_SZ);
    back.SetString(L"7", L"Old");
    ASSERT_TRUE(TQInterface::ApplyWatermarks(list, &back));
    EXPECT_EQ(back.Count(), 4u);
    EXPECT_EQ(back.Find(L"7"), nullptr);
    ASSERT_NE(back.Find(L"WMInitialized"), nullptr);
    EXPECT_EQ(back.Find(L"WMInitialized")->Text(), L"");
    Set(current, L"*QV_WATERMARK", L"3");
    KVCache chosen;
    ASSERT_TRUE(TQInterface::ApplyWatermarkSelection(soup, &chosen, &current, list));
    EXPECT_EQ(Value(chosen, L"*QV_WatermarkStr"), L"Secret");
    EXPECT_EQ(Value(chosen, L"*QV_WATERMARK"), L"3");
    FreeKeyValueArray(list);
}

TEST_F(TQExchangeTest, TheCurrentWatermarkTakesTheFirstFreeNumber) {
    struct Case {
        std::vector<std::pair<const wchar_t*, const wchar_t*>> entries;
        const wchar_t* text;
        const wchar_t* added;  // null: nothing added
    };
    const Case cases[] = {
        {{{L"0", L"A"}, {L"1", L"B"}}, L"New", L"4"},
        {{{L"3", L"A"}, {L"4", L"B"}}, L"New", L"5"},  // count + 2 is taken
        {{{L"0", L"New"}}, L"New", nullptr},             // already held
        {{}, L"", nullptr},                              // no text
    };
    for (const Case& c : cases) {
        CUserStore store(HKEY_CURRENT_USER, L"Software\\TolvaTest\\NoSuchWatermarks", REG_SZ);
        for (auto& entry : c.entries) store.SetString(entry.first, entry.second);
        KVCache settings = current;
        if (*c.text) Set(settings, L"*QV_WatermarkStr", c.text);
        else Set(settings, L"*QV_WatermarkStr", L"");
        size_t before = store.Count();
        TQInterface::AddCurrentWatermark(soup, &settings, &store);
        if (c.added) {
            ASSERT_NE(store.Find(c.added), nullptr) << c.added;
            EXPECT_EQ(store.Find(c.added)->Text(), c.text);
        } else {
            EXPECT_EQ(store.Count(), before);
        }
    }
}

// The texts as the free routine saw them, in the order it was handed them.
std::vector<std::wstring> g_freedTexts;
void RecordFreedText(wchar_t* text) {
    // The wipe keeps the length: read the original number of characters, terminator or not.
    static const size_t kLengths[] = {13, 7};
    const size_t length = kLengths[g_freedTexts.size() % 2];
    g_freedTexts.emplace_back(text, length);
    delete[] text;
}

TEST_F(TQExchangeTest, SecretsAreWipedBeforeTheirArrayIsFreed) {
    for (bool wipe : {true, false}) {
        SCOPED_TRACE(wipe ? "wiped" : "kept");
        g_freedTexts.clear();
        TQKeyValueArray* array = MakeArray({{L"QVUserAuthPwd", L"hunter2"}});
        KeyValueTextFreeFn previous = SetKeyValueTextFreeSeam(&RecordFreedText);
        FreeKeyValueArray(array, wipe);
        SetKeyValueTextFreeSeam(previous);
        ASSERT_EQ(g_freedTexts.size(), 2u);
        if (wipe) {
            EXPECT_EQ(g_freedTexts[0], std::wstring(13, L'\0'));
            EXPECT_EQ(g_freedTexts[1], std::wstring(7, L'\0'));
        } else {
            EXPECT_EQ(g_freedTexts[0], L"QVUserAuthPwd");
            EXPECT_EQ(g_freedTexts[1], L"hunter2");
        }
    }
    wchar_t comma[] = L"1,5 2,25";
    JoinCommaList(comma);
    EXPECT_EQ(std::wstring(comma), L"1.5 2.25");
}

TEST_F(TQExchangeTest, PageKeysTravelUnderTheLibrarysNames) {
    VariantState variant(
        "*%VYRUI_DefaultQVDrvOrientation: Portrait\n*%VYRUI_QVDrvOrientation Portrait/Portrait: \"\"\n"
        "*%VYRUI_QVDrvOrientation Landscape/Landscape: \"\"\n"
        "*%VYRUI_DefaultQVDrvMirror: False\n*%VYRUI_QVDrvMirror True/On: \"\"\n*%VYRUI_QVDrvMirror False/Off: \"\"\n"
        "*%VYRUI_DefaultQVDrvNegative: False\n*%VYRUI_QVDrvNegative True/On: \"\"\n*%VYRUI_QVDrvNegative False/Off: \"\"");
    ASSERT_TRUE(variant.Ok());
    CBaseDrvState* own = variant.State();
    CBaseSoup* ownSoup = own->GetSoup();
    const KVCache* defaults = own->GetDefaultSettings();
    auto value = [&](const KVCache& cache, const wchar_t* keyword) {
        return std::wstring(TQInterface::ValueText(ownSoup, cache.Find(ownSoup->Find(keyword))).c_str());
    };
    auto set = [&](KVCache& cache, const wchar_t* keyword, const wchar_t* text) {
        CKeySetting* found = cache.Find(ownSoup->Find(keyword));
        if (!found) found = defaults->Find(ownSoup->Find(keyword));
        ASSERT_NE(found, nullptr) << std::string(keyword, keyword + wcslen(keyword));
        CKeySetting* clone = found->Clone();
        // The state's forest has no "*%DM_"/"*%PS_" keys: those take their option's slot directly.
        if (own->GetKeyForest()->GetLeaves(found->GetKeyId()))
            ASSERT_EQ(clone->SetFromText(ownSoup, own->GetKeyForest(), keyword, text), 1);
        else
            clone->SetValueId(ownSoup->FindOrAdd(text));
        cache.Set(clone);
        delete clone;
    };
    KVCache settings;
    set(settings, L"*!dmOrientation", L"Landscape");
    ASSERT_TRUE(TQInterface::ExportPageKeys(&settings, ownSoup, own->GetKeyForest(), defaults));
    // Out: the orientation under the library's name; mirror and negative with their own option.
    EXPECT_EQ(value(settings, L"*QVDrvOrientation"), L"Landscape");
    EXPECT_EQ(value(settings, L"*QVDrvMirror"), L"False");
    EXPECT_EQ(value(settings, L"*QVDrvNegative"), L"False");
    EXPECT_EQ(value(settings, L"**CustomPageSize"), L"False");

    // Back: the library's names set the driver's keys.
    set(settings, L"*QVDrvOrientation", L"Portrait");
    set(settings, L"*QVDrvMirror", L"True");
    set(settings, L"*QVDrvNegative", L"False");
    set(settings, L"*%Negative", L"True");
    ASSERT_TRUE(TQInterface::ImportPageKeys(&settings, ownSoup, own->GetKeyForest(), defaults));
    EXPECT_EQ(value(settings, L"*!dmOrientation"), L"Portrait");
    EXPECT_EQ(value(settings, L"*%Mirroring"), L"True");
    EXPECT_EQ(value(settings, L"*%Negative"), L"False");
}

TEST_F(TQExchangeTest, ArraysWhoseItemsLieElsewhereAreRefused) {
    // Every reader takes the items from right after the header: an array whose items pointer
    // names other memory (here a longer array's items) is refused, not read past its end.
    TQKeyValueArray* longer = MakeArray({{L"Duplex", L"DuplexTumble"}, {L"QVColorMode", L"Grayscale"}});
    TQKeyValueArray* shell = AllocKeyValueArray(0);
    ASSERT_NE(shell, nullptr);
    shell->count = 2;
    shell->items = TQArrayItems(longer);
    struct Case {
        const char* name;
        TQKeyValueArray* array;
        bool trusted;
    };
    for (const Case& c : {Case{"items after the header", longer, true}, Case{"items elsewhere", shell, false}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsTrustedKeyValueArray(c.array), c.trusted);
        KVCache target;
        EXPECT_EQ(TQInterface::ApplyKeyValues(c.array, soup, state->GetKeyForest(), &target, &current) != FALSE,
                  c.trusted);
        EXPECT_EQ(Value(target, L"*QVColorMode"), c.trusted ? L"Grayscale" : L"");
        CUserStore store(HKEY_CURRENT_USER, L"Software\\TolvaTest\\NoSuchWatermarks", REG_SZ);
        EXPECT_EQ(TQInterface::ApplyWatermarks(c.array, &store) != FALSE, c.trusted);
    }
    shell->count = 0;
    FreeKeyValueArray(shell);
    FreeKeyValueArray(longer);
}

TEST_F(TQExchangeTest, TheInitialisedMarkerIsWrittenLast) {
    // The library's list may carry an item of the marker's name: the marker, written after
    // every item, is what the store keeps.
    TQKeyValueArray* list = MakeArray({{L"0", L"Draft"}, {L"WMInitialized", L"from the library"}, {L"1", L"Copy"}});
    CUserStore store(HKEY_CURRENT_USER, L"Software\\TolvaTest\\NoSuchWatermarks", REG_SZ);
    ASSERT_TRUE(TQInterface::ApplyWatermarks(list, &store));
    FreeKeyValueArray(list);
    ASSERT_NE(store.Find(L"WMInitialized"), nullptr);
    EXPECT_EQ(store.Find(L"WMInitialized")->Text(), L"");
    EXPECT_EQ(store.Count(), 3u);
    // And it never travels to the library: the list made from the store has the two texts.
    TQKeyValueArray* back = TQInterface::StoreToKeyValues(&store);
    EXPECT_EQ(ToList(back), (std::vector<std::pair<std::wstring, std::wstring>>{{L"0", L"Draft"}, {L"1", L"Copy"}}));
    FreeKeyValueArray(back);
}

TEST_F(TQExchangeTest, ThePrinterPictureNeedsNoTemporaryFolder) {
    // A temporary folder whose path does not fit MAX_PATH.
    struct Saved {
        const wchar_t* name;
        bool present;
        std::wstring value;
    } saved[] = {{L"TMP", false, {}}, {L"TEMP", false, {}}};
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'd');
    for (Saved& variable : saved) {
        std::wstring value(32768, L'\0');
        const DWORD length = GetEnvironmentVariableW(variable.name, value.data(), 32768);
        variable.present = length > 0 && length < 32768;
        if (variable.present) variable.value = value.c_str();
        SetEnvironmentVariableW(variable.name, longFolder.c_str());
    }
    wchar_t probe[MAX_PATH];
    const DWORD tempLength = GetTempPathW(MAX_PATH, probe);
    HBITMAP picture = TQInterface::RenderPrinterPicture(state->GetPPDPath(), soup, &current);
    for (const Saved& variable : saved)
        SetEnvironmentVariableW(variable.name, variable.present ? variable.value.c_str() : nullptr);
    EXPECT_TRUE(tempLength == 0 || tempLength >= MAX_PATH) << "the temporary folder cannot be read";
    ASSERT_NE(picture, nullptr);
    BITMAP info = {};
    ASSERT_TRUE(GetObjectW(picture, sizeof(info), &info));
    EXPECT_EQ(info.bmWidth, 260);
    EXPECT_EQ(info.bmHeight, 160);
    DeleteObject(picture);
}

TEST_F(TQExchangeTest, TheLogoKeepsTheButtonFaceWhereItIsGreen) {
    HBITMAP logo = TQInterface::LoadLogoBitmap(nullptr, GetModuleHandleW(nullptr), MAKEINTRESOURCEW(3097));
    ASSERT_NE(logo, nullptr);
    BITMAP info = {};
    ASSERT_TRUE(GetObjectW(logo, sizeof(info), &info));
    EXPECT_EQ(info.bmWidth, 4);
    EXPECT_EQ(info.bmHeight, 2);
    EXPECT_EQ(info.bmBitsPixel, 24);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, logo);
    EXPECT_EQ(GetPixel(dc, 0, 0), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetPixel(dc, 3, 1), RGB(255, 0, 0));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(logo);
    EXPECT_EQ(TQInterface::LoadLogoBitmap(nullptr, GetModuleHandleW(nullptr), MAKEINTRESOURCEW(4000)), nullptr);
}

// The SMDData documents, through a client opened on the sample printer.
class TQDocumentTest : public TQExchangeTest {
protected:
    // Opens a client with installed as its installed-options cache and ppdPath as its PPD.
    TQInterface* OpenClient(TQFolder& folder, KVCache* installed, const wchar_t* ppdPath, const TQSessionInfo* session) {
        TQInterface* client = AcquireTQInterface(folder.Quenta(), session, session != nullptr);
        if (!client) return nullptr;
        page = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
        KVCache extra;
        client->OpenJobUI(page, ppdPath, soup, &current, installed, state->GetKeyForest(), nullptr, L"q",
                          sample->Printer().Handle(), GetModuleHandleW(nullptr), MAKEINTRESOURCEW(3097), &extra,
                          L"1252", L"en");
        return client;
    }
    void Close(TQInterface* client) {
        ReleaseTQInterface(client);
        DestroyWindow(page);
    }
    std::wstring Document(TQInterface* client) {
        wchar_t* text = nullptr;
        EXPECT_EQ(BuildSMDDataCallback(client, &text), 0u);
        std::wstring document = text ? text : L"";
        void* buffer = text;
        client->GetCallbacks()->bufferRelease(client, &buffer);
        EXPECT_EQ(buffer, nullptr);
        return document;
    }
    HWND page = nullptr;
};

TEST_F(TQDocumentTest, TheDocumentListsEachInstalledOptionOnce) {
    TQFolder folder(L"full");
    KVCache installed;
    installed.Set(Find(*state->GetDefaultSettings(), L"*TolvaDuplexUnit"));
    installed.Set(Find(*state->GetDefaultSettings(), L"*Duplex"));
    TQInterface* client = OpenClient(folder, &installed, L"C:\\drv\\SAMPLE.PPD", nullptr);
    ASSERT_NE(client, nullptr);
    std::wstring document = Document(client);
    bool unitFirst = soup->Find(L"*TolvaDuplexUnit") < soup->Find(L"*Duplex");
    std::wstring unit = L"          <InstalledOptions key=\"TolvaDuplexUnit\" value=\"True\"/>\n";
    std::wstring duplex = L"          <InstalledOptions key=\"Duplex\" value=\"None\"/>\n";
    std::wstring expected =
        L"<?xml version=\"1.0\" encoding=\"UTF16\"?>\n<SMDData>\n <Configuration locale=\"en\" encoding=\"UTF8\" "
        L"ppdLocation0=\"C:\\drv\\SAMPLE.PPD\"  ControlScope=\"Driver\"  /> \n <Device deviceName=\"\" deviceID=\"0\"> \n"
        L"\n    <InstallableOptions>\n" +
        (unitFirst ? unit + duplex : duplex + unit) + L"    </InstallableOptions>\n\n    </Device> \n</SMDData>";
    EXPECT_EQ(document, expected);
    EXPECT_TRUE(MsxmlLoads(document));
    // The stand-in asked for it too while running, and gave it back.
    EXPECT_NE(folder.Log().find("Document 0 " + std::to_string(expected.size())), std::string::npos) << folder.Log();
    Close(client);
    EXPECT_EQ(BuildSMDDataCallback(nullptr, nullptr), TQ_FAILED);
}

TEST_F(TQDocumentTest, NoInstalledOptionsWriteNoBlock) {
    TQFolder folder(L"full");
    KVCache installed;
    TQInterface* client = OpenClient(folder, &installed, L"C:\\drv\\SAMPLE.PPD", nullptr);
    ASSERT_NE(client, nullptr);
    std::wstring document = Document(client);
    EXPECT_EQ(document.find(L"InstallableOptions"), std::wstring::npos);
    EXPECT_TRUE(MsxmlLoads(document));
    Close(client);
}

TEST_F(TQDocumentTest, ManyOptionsAndMarkupInThePathStillParse) {
    TQFolder folder(L"full");
    // Every setting of the sample as an installed option.
    KVCache installed = *state->GetDefaultSettings();
    TQInterface* client = OpenClient(folder, &installed, L"C:\\R&D's \"drivers\" <x>\\SAMPLE.PPD", nullptr);
    ASSERT_NE(client, nullptr);
    std::wstring document = Document(client);
    EXPECT_TRUE(MsxmlLoads(document));
    EXPECT_NE(document.find(L"ppdLocation0=\"C:\\R&amp;D's &quot;drivers&quot; &lt;x&gt;\\SAMPLE.PPD\""), std::wstring::npos);
    TQKeyValueArray* pairs = TQInterface::CollectKeyValues(soup, &installed, &installed, state->GetKeyForest(), FALSE, FALSE);
    EXPECT_EQ(Occurrences(document, L"<InstalledOptions "), pairs->count);
    EXPECT_GT(pairs->count, 50u);
    FreeKeyValueArray(pairs);
    Close(client);
}

TEST_F(TQDocumentTest, TheDeviceDocumentGetsOurConfigurationAndOptions) {
    struct Case {
        const char* device;  // the library's own document; "none": it gives no provider
        uint32_t flags;
        bool fullServer;     // the server field filled to its end, without a terminator
        DWORD answer;
        std::wstring expected;
    };
    const std::wstring block = L"    <InstallableOptions>\n          <InstalledOptions key=\"Duplex\" value=\"None\"/>\n"
                               L"    </InstallableOptions>\n";
    const std::wstring fullServer(sizeof(TQSessionInfo::server), L'x');
    const Case cases[] = {
        {"<D><Configuration locale=\"xx\"/><I><InstallableOptions><Old/></InstallableOptions></I></D>", 30, false, 0,
         L"<D><Configuration locale=\"en\" encoding=\"UTF8\" ppdLocation0=\"C:\\drv\\SAMPLE.PPD\"  pddLocation0=\"\" "
         L"server=\"10.1.2.3\" dataFlags=\"30\" ControlScope=\"Driver\"  /><I>" + block + L"</I></D>"},
        {"<D><Configuration/></D>", 64, true, 0,
         L"<D><Configuration locale=\"en\" encoding=\"UTF8\" ppdLocation0=\"C:\\drv\\SAMPLE.PPD\"  pddLocation0=\"\" "
         L"server=\"" + fullServer + L"\" dataFlags=\"64\" ControlScope=\"Driver\"  /></D>"},
        {"<D><InstallableOptions><Old/></InstallableOptions></D>", 64, false, 0, L"<D>" + block + L"</D>"},
        {"none", 64, false, TQ_FAILED, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        TQFolder folder(L"full", std::string("device=") + c.device + "\n");
        TQSessionInfo session;
        InitTQSessionInfo(&session);
        if (c.fullServer) {
            memset(session.server, 'x', sizeof(session.server));
            // What follows the field must not be read as part of it.
            strcpy(session.password, "secret");
        } else {
            strcpy(session.server, "10.1.2.3");
        }
        strcpy(session.language, "en");
        session.dataFlags = c.flags;
        KVCache installed;
        installed.Set(Find(*state->GetDefaultSettings(), L"*Duplex"));
        TQInterface* client = OpenClient(folder, &installed, L"C:\\drv\\SAMPLE.PPD", &session);
        ASSERT_NE(client, nullptr);
        ASSERT_TRUE(client->IsSDMReady()) << folder.Log();
        using Fn = const char* (*)();
        auto last = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(folder.Library(), "TestLastDocument")));
        std::string got = last();
        EXPECT_EQ(std::wstring(got.begin(), got.end()), c.expected) << folder.Log();
        EXPECT_NE(folder.Log().find("Document " + std::to_string(c.answer) + " " + std::to_string(c.expected.size())),
                  std::string::npos)
            << folder.Log();
        if (c.answer != 0) {
            EXPECT_EQ(Count(folder.Log(), "SDMAllocMemory"), 0u) << "nothing is handed out";
        }
        // The pictures answer through the session's user data too.
        EXPECT_NE(folder.Log().find("Picture 0 TRUE 4x2 -1"), std::string::npos) << folder.Log();
        Close(client);
        EXPECT_EQ(folder.LiveBuffers(), 0);
    }
}

TEST_F(TQDocumentTest, ThreeHundredInstalledOptionsParseWithOneElementEach) {
    std::string lines;
    for (int i = 0; i < 300; ++i) {
        char name[16];
        snprintf(name, sizeof name, "TQOpt%03d", i);
        lines += std::string("*OpenUI *") + name + "/Option " + name + ": Boolean\n*Default" + name + ": False\n*" +
                 name + " True/Installed: \"\"\n*" + name + " False/Not Installed: \"\"\n*CloseUI: *" + name + "\n";
    }
    VariantState variant(lines, "*CloseGroup: InstallableOptions");
    ASSERT_TRUE(variant.Ok());
    CBaseDrvState* many = variant.State();
    TQFolder folder(L"full");
    TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(client, nullptr);
    page = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    KVCache extra;
    client->OpenJobUI(page, L"C:\\R&D's \"drivers\" <x>\\VARIANT.PPD", many->GetSoup(), many->GetCurrentSettings(),
                      variant.Installed(), many->GetKeyForest(), nullptr, L"q", nullptr, GetModuleHandleW(nullptr),
                      MAKEINTRESOURCEW(3097), &extra, L"1252", L"en");
    std::wstring document = Document(client);
    EXPECT_TRUE(MsxmlLoads(document));
    EXPECT_NE(document.find(L"ppdLocation0=\"C:\\R&amp;D's &quot;drivers&quot; &lt;x&gt;\\VARIANT.PPD\""), std::wstring::npos);
    TQKeyValueArray* pairs = TQInterface::CollectKeyValues(many->GetSoup(), variant.Installed(), variant.Installed(),
                                                           many->GetKeyForest(), FALSE, FALSE);
    ASSERT_NE(pairs, nullptr);
    EXPECT_GE(pairs->count, 300u);
    EXPECT_EQ(Occurrences(document, L"<InstalledOptions "), pairs->count);
    for (int i = 0; i < 300; i += 37) {
        std::wstring number = std::to_wstring(i);
        number.insert(0, 3 - number.size(), L'0');
        EXPECT_EQ(Occurrences(document, L"key=\"TQOpt" + number + L"\" value=\"False\""), 1u) << i;
    }
    FreeKeyValueArray(pairs);
    Close(client);
}

TEST_F(TQDocumentTest, PicturesAnswerOnlyWhereAsked) {
    TQFolder folder(L"full");
    KVCache installed;
    TQInterface* client = OpenClient(folder, &installed, state->GetPPDPath(), nullptr);
    ASSERT_NE(client, nullptr);
    EXPECT_NE(folder.Log().find("Picture 1 TRUE 260x160 -1"), std::string::npos) << folder.Log();
    // The OEM module beside the PPD has no logo 3097: it is looked for there, not in the module given.
    EXPECT_NE(folder.Log().find("Picture 0 FALSE 1x1 1"), std::string::npos) << folder.Log();
    EXPECT_NE(folder.Log().find("Picture 2 FALSE 1x1 1"), std::string::npos) << folder.Log();
    HBITMAP bitmap = nullptr;
    LONG width = 0, height = 7, depth = 0;
    EXPECT_TRUE(GetPrinterPictureCallback(client, &bitmap, &width, &height, &depth, 1));
    EXPECT_EQ(bitmap, client->GetPrinterPicture());
    EXPECT_EQ(width, 0);  // asked with 0: left alone
    EXPECT_EQ(height, 160);
    EXPECT_EQ(depth, 0);
    EXPECT_TRUE(GetPrinterPictureCallback(client, nullptr, nullptr, nullptr, nullptr, 1));
    EXPECT_FALSE(GetPrinterPictureCallback(client, &bitmap, &width, &height, &depth, 2));
    EXPECT_FALSE(GetPrinterPictureCallback(nullptr, &bitmap, &width, &height, &depth, 1));
    Close(client);
}

}  // namespace

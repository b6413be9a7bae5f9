// Settings validation over the sample PPD's constraints, with a recording message box in
// place of the real one.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "settings/KeyOptSetting.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "storage/Validation.h"
#include "tests/storage/CfgTestUtil.h"
#include "tests/support/TestPrinter.h"

using tolvatest::FixturePath;
using tolvatest::TestPrinter;
using tolvatest::TestPrinterSetup;

namespace {

struct Box {
    std::wstring text, caption;
    UINT type;
};
std::vector<Box> g_boxes;
int g_answer = IDOK;

int RecordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    g_boxes.push_back({text ? text : L"", caption ? caption : L"", type});
    return g_answer;
}

size_t Count(const std::wstring& text, const std::wstring& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class ValidationTest : public ::testing::Test {
protected:
    static TestPrinterSetup SampleSetup() {
        TestPrinterSetup setup;
        setup.dataFile = FixturePath(L"tolva-sample.ppd");
        setup.companions.push_back({std::wstring(TOLVA_LAN_DIR_W) + L"\\tolva-sample.LAN", L"{stem}.LAN"});
        return setup;
    }
    void SetUp() override {
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        previous = SetValidationMessageBox(&RecordBox);
        g_boxes.clear();
        g_answer = IDOK;
        settings = AcquireCfgSettings(printer.DataFile().c_str());
        ASSERT_NE(settings, nullptr);
        state = std::make_unique<CBaseDrvState>(settings);
        ASSERT_TRUE(state->IsValid());
        ASSERT_TRUE(state->LoadAll(settings, DevmodeSet(), nullptr, 0));
    }
    void TearDown() override {
        SetValidationMessageBox(previous);
        state.reset();
        if (settings)
            ReleaseCfgSettings(printer.DataFile().c_str(), settings);
    }
    KVCache Change(const wchar_t* key, const wchar_t* option) {
        KVCache changed;
        CKeySetting* now = state->GetCurrentSettings()->Find(state->GetSoup()->Find(key));
        EXPECT_NE(now, nullptr) << testing::PrintToString(std::wstring(key));
        if (now) {
            std::unique_ptr<CKeySetting> copy(now->Clone());
            copy->SetValueId(state->GetSoup()->Find(option));
            EXPECT_TRUE(copy->GetValueId().IsValid());
            changed.Set(copy.get());
        }
        return changed;
    }
    std::wstring Current(const wchar_t* key) {
        const wchar_t* text = state->GetOptionText(state->GetCurrentSettings(), key);
        return text ? text : L"<none>";
    }
    bool Validate(const KVCache& changed) {
        return ValidateChangedSettings(state.get(), printer.DataFile().c_str(), nullptr, &changed, nullptr);
    }

    TestPrinter printer{SampleSetup()};
    ValidationMessageBoxFn previous = nullptr;
    CfgSettings* settings = nullptr;
    std::unique_ptr<CBaseDrvState> state;
};

TEST_F(ValidationTest, NoConflictNoBoxAndTheChangeIsApplied) {
    EXPECT_TRUE(Validate(Change(L"*PageSize", L"Letter")));
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(Current(L"*PageSize"), L"Letter");
}

TEST_F(ValidationTest, OneForcedChangeIsListedOnceAndAppliedOnOk) {
    ASSERT_EQ(Current(L"*InputSlot"), L"Tray1");
    EXPECT_FALSE(Validate(Change(L"*PageSize", L"A3")));
    ASSERT_EQ(g_boxes.size(), 1u);
    const Box& box = g_boxes[0];
    EXPECT_EQ(box.caption, L"Before you continue...");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OKCANCEL));
    EXPECT_EQ(box.text.rfind(L"In order to make sure the Driver layout configuration behaves correctly when you "
                             L"print,\nthe following changes are needed:\n\n",
                             0),
              0u)
        << testing::PrintToString(box.text);
    EXPECT_EQ(Count(box.text, L"needs to be changed from"), 1u) << testing::PrintToString(box.text);
    EXPECT_NE(box.text.find(L"Paper Source needs to be changed from \"Tray 1\" to \"Tray 2\" .\n"), std::wstring::npos)
        << testing::PrintToString(box.text);
    EXPECT_NE(box.text.find(L"Click on OK to accept these changes."), std::wstring::npos);
    EXPECT_EQ(Current(L"*PageSize"), L"A3");
    EXPECT_EQ(Current(L"*InputSlot"), L"Tray2");
}

TEST_F(ValidationTest, TranslatedTextsAreUsedOnlyWithTheirConversions) {
    const std::wstring path = std::wstring(TOLVA_BINARY_DIR_W) + L"\\tolva_state_texts.dll";
    HMODULE texts = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(texts, nullptr) << "module " << testing::PrintToString(path);
    KVCache changed = Change(L"*PageSize", L"A3");
    bool none = ValidateChangedSettings(state.get(), printer.DataFile().c_str(), texts, &changed, nullptr);
    FreeLibrary(texts);
    EXPECT_FALSE(none);
    ASSERT_EQ(g_boxes.size(), 1u);
    const Box& box = g_boxes[0];
    EXPECT_EQ(box.caption, L"Bitte beachten");
    EXPECT_EQ(box.text.rfind(L"In order to make sure the Driver layout configuration", 0), 0u)
        << "a translation with other conversions falls back: " << testing::PrintToString(box.text);
    EXPECT_NE(box.text.find(L"Paper Source wird von \"Tray 1\" auf \"Tray 2\" umgestellt .\n"), std::wstring::npos)
        << testing::PrintToString(box.text);
    EXPECT_NE(box.text.find(L"Click on OK to accept these changes."), std::wstring::npos);
}

TEST_F(ValidationTest, CancelChangesNothing) {
    g_answer = IDCANCEL;
    EXPECT_FALSE(Validate(Change(L"*PageSize", L"A3")));
    EXPECT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(Current(L"*PageSize"), L"A4");
    EXPECT_EQ(Current(L"*InputSlot"), L"Tray1");
}

TEST_F(ValidationTest, RefusalNamesTheBlockingSetting) {
    // Two changes of the user's that exclude each other: neither may be given another value.
    KVCache changed = Change(L"*PageSize", L"A5");
    KVCache slot = Change(L"*InputSlot", L"LargeCapacity");
    changed.SetAll(&slot);
    EXPECT_FALSE(Validate(changed));
    ASSERT_EQ(g_boxes.size(), 1u);
    const Box& box = g_boxes[0];
    EXPECT_EQ(box.caption, L"Sorry, this selection can't be made.");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(box.text.rfind(L"Unfortunately this selection can't be made right now.\n", 0), 0u)
        << testing::PrintToString(box.text);
    EXPECT_EQ(box.text.find_last_not_of(L" \n,"), box.text.size() - 1) << "no trailing blanks, breaks or commas";
    EXPECT_EQ(Current(L"*InputSlot"), L"Tray1") << "nothing is applied";
    EXPECT_EQ(Current(L"*PageSize"), L"A4") << "nothing is applied";
}

// The refusal texts are built in: a language module changes neither the caption nor a line.
TEST_F(ValidationTest, RefusalTextsWordForWord) {
    const std::wstring path = std::wstring(TOLVA_BINARY_DIR_W) + L"\\tolva_state_texts.dll";
    HMODULE texts = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(texts, nullptr) << "module " << testing::PrintToString(path);
    struct Case {
        const char* name;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> changes;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"several: two changes of the user's that exclude each other",
         {{L"*PageSize", L"A5"}, {L"*InputSlot", L"LargeCapacity"}},
         L"Unfortunately this selection can't be made right now.\nThis is because :\nPage Size is currently set to A4 "
         L",\nPaper Source is currently set to Tray 1 .\nThese settings cannot be currently changed."},
    };
    for (const Case& c : cases) {
        for (HMODULE module : {static_cast<HMODULE>(nullptr), texts}) {
            SCOPED_TRACE(std::string(c.name) + (module ? " (language module)" : " (built-in)"));
            g_boxes.clear();
            KVCache changed;
            for (const auto& [key, option] : c.changes) {
                KVCache one = Change(key, option);
                changed.SetAll(&one);
            }
            EXPECT_FALSE(ValidateChangedSettings(state.get(), printer.DataFile().c_str(), module, &changed, nullptr));
            ASSERT_EQ(g_boxes.size(), 1u);
            EXPECT_EQ(g_boxes[0].caption, L"Sorry, this selection can't be made.");
            EXPECT_EQ(g_boxes[0].type, static_cast<UINT>(MB_OK));
            EXPECT_EQ(g_boxes[0].text, c.text) << testing::PrintToString(g_boxes[0].text);
            EXPECT_EQ(Current(L"*InputSlot"), L"Tray1") << "nothing is applied";
        }
    }
    FreeLibrary(texts);
}

// One blocked setting: a constraint in one direction only, between two keys the user changed,
// leaves exactly the other key in conflict. The text names it twice, with its current option.
TEST(ValidationRefusal, OneBlockedSettingWordForWord) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring ppd = std::wstring(temp) + L"tolva-oneway-" + std::to_wstring(GetCurrentProcessId()) + L".ppd";
    const std::string text =
        "*PPD-Adobe: \"4.3\"\r\n*LanguageVersion: English\r\n*ShortNickName: \"Tolva One Way\"\r\n"
        "*OpenUI *PageSize/Page Size: PickOne\r\n*DefaultPageSize: A4\r\n*PageSize A4/A4: \"\"\r\n"
        "*PageSize A5/A5: \"\"\r\n*CloseUI: *PageSize\r\n"
        "*OpenUI *InputSlot/Paper Source: PickOne\r\n*DefaultInputSlot: Tray1\r\n*InputSlot Tray1/Tray 1: \"\"\r\n"
        "*InputSlot LargeCapacity/Large Capacity Tray: \"\"\r\n*CloseUI: *InputSlot\r\n"
        "*UIConstraints: *PageSize A5 *InputSlot LargeCapacity\r\n";
    ASSERT_TRUE(cfgtest::WriteText(ppd, text));
    const std::wstring path = std::wstring(TOLVA_BINARY_DIR_W) + L"\\tolva_state_texts.dll";
    HMODULE texts = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(texts, nullptr);
    ValidationMessageBoxFn previous = SetValidationMessageBox(&RecordBox);
    {
        TestPrinter printer(ppd);
        ASSERT_TRUE(printer.Ok()) << printer.Error();
        std::unique_ptr<CBaseDrvState> state;
        {
            CfgSettingsHold hold(printer.DataFile().c_str());
            ASSERT_NE(hold.Get(), nullptr);
            state = std::make_unique<CBaseDrvState>(hold.Get());
            ASSERT_TRUE(state->IsValid());
            ASSERT_TRUE(state->LoadAll(hold.Get(), DevmodeSet(), nullptr, 0));
        }
        KVCache changed(*state->GetCurrentSettings());
        ASSERT_TRUE(state->SetOptionByText(&changed, L"*PageSize", L"A5"));
        ASSERT_TRUE(state->SetOptionByText(&changed, L"*InputSlot", L"LargeCapacity"));
        for (HMODULE module : {static_cast<HMODULE>(nullptr), texts}) {
            SCOPED_TRACE(module ? "language module" : "built-in");
            g_boxes.clear();
            EXPECT_FALSE(ValidateChangedSettings(state.get(), printer.DataFile().c_str(), module, &changed, nullptr));
            ASSERT_EQ(g_boxes.size(), 1u);
            EXPECT_EQ(g_boxes[0].caption, L"Sorry, this selection can't be made.");
            EXPECT_EQ(g_boxes[0].type, static_cast<UINT>(MB_OK));
            EXPECT_EQ(g_boxes[0].text,
                      L"Unfortunately this selection can't be made right now.\nThis is because Paper Source is set to : "
                      L"\"Tray 1\", and cannot be changed here.\nIt's likely that Paper Source is an accessory that has not "
                      L"been installed.")
                << testing::PrintToString(g_boxes[0].text);
            EXPECT_STREQ(state->GetOptionText(state->GetCurrentSettings(), L"*PageSize"), L"A4") << "nothing is applied";
        }
    }
    SetValidationMessageBox(previous);
    FreeLibrary(texts);
    DeleteFileW(ppd.c_str());
}

// While a box is open another thread of the process can take the same PPD's settings.
struct OtherThread {
    std::wstring ppd;
    bool acquired = false;
};
OtherThread g_other;

DWORD WINAPI AcquireOnOtherThread(void*) {
    CfgSettings* other = AcquireCfgSettings(g_other.ppd.c_str());
    g_other.acquired = other != nullptr;
    ReleaseCfgSettings(g_other.ppd.c_str(), other);
    return 0;
}

bool OtherThreadAcquires() {
    g_other.acquired = false;
    HANDLE thread = CreateThread(nullptr, 0, &AcquireOnOtherThread, nullptr, 0, nullptr);
    // A deadlock shows as a wait that does not end (no timing is measured).
    const bool ended = thread && WaitForSingleObject(thread, 60000) == WAIT_OBJECT_0;
    if (thread)
        CloseHandle(thread);
    return ended && g_other.acquired;
}

bool g_acquiredDuringBox = false;
int BoxThatNeedsThePPD(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
    g_acquiredDuringBox = OtherThreadAcquires();
    return RecordBox(owner, text, caption, type);
}

TEST_F(ValidationTest, TheSettingsHoldIsGivenBackWhileABoxIsOpen) {
    // The test's own hold ends first: the validation's hold is then the only one.
    ReleaseCfgSettings(printer.DataFile().c_str(), settings);
    settings = nullptr;
    g_other.ppd = printer.DataFile();
    // A confirmation, then a refusal.
    for (const auto& [key, option, other, otherOption] :
         {std::tuple{L"*PageSize", L"A3", L"", L""}, std::tuple{L"*PageSize", L"A5", L"*InputSlot", L"LargeCapacity"}}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(key) + L"=" + option));
        KVCache changed = Change(key, option);
        if (*other) {
            KVCache more = Change(other, otherOption);
            changed.SetAll(&more);
        }
        g_acquiredDuringBox = false;
        g_boxes.clear();
        SetValidationMessageBox(&BoxThatNeedsThePPD);
        EXPECT_FALSE(Validate(changed));
        SetValidationMessageBox(&RecordBox);
        EXPECT_EQ(g_boxes.size(), 1u);
        EXPECT_TRUE(g_acquiredDuringBox);
    }
    EXPECT_EQ(Current(L"*InputSlot"), L"Tray2") << "the confirmed change was applied after the box";
    // The validation took its hold again and gave it back: this thread holds nothing now.
    EXPECT_TRUE(OtherThreadAcquires());
}

TEST_F(ValidationTest, MissingArgumentsValidateNothing) {
    KVCache changed = Change(L"*PageSize", L"Letter");
    EXPECT_FALSE(ValidateChangedSettings(nullptr, printer.DataFile().c_str(), nullptr, &changed, nullptr));
    EXPECT_FALSE(ValidateChangedSettings(state.get(), nullptr, nullptr, &changed, nullptr));
    EXPECT_FALSE(ValidateChangedSettings(state.get(), printer.DataFile().c_str(), nullptr, nullptr, nullptr));
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(Current(L"*PageSize"), L"A4");
}

TEST(ValidationTexts, TranslationsMustKeepTheConversions) {
    struct {
        const wchar_t* translated;
        const wchar_t* builtIn;
        bool accepted;
    } cases[] = {
        {L"%s muss von \"%s\" auf \"%s\" .\n", L"%s needs to be changed from \"%s\" to \"%s\" .\n", true},
        {L"%s von %s", L"%s needs to be changed from \"%s\" to \"%s\" .\n", false},
        {L"%s %s %s %s", L"%s needs to be changed from \"%s\" to \"%s\" .\n", false},
        {L"%d %s %s", L"%s %s %s", false},
        {L"%n%s%s", L"%s%s%s", false},
        {L"100%% %s", L"%s", true},
        {L"%-10s", L"%s", true},
        {L"%ls", L"%s", false},
        {L"no conversion", L"Before you continue...", true},
        {L"trailing %", L"x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatConversionsMatch(c.translated, c.builtIn), c.accepted)
            << testing::PrintToString(std::wstring(c.translated));
    EXPECT_FALSE(FormatConversionsMatch(nullptr, L"%s"));

    CValidationUtility noModule(nullptr, nullptr, nullptr, nullptr);
    wchar_t text[16];
    noModule.LoadText(107, L"built-in %s text that is long", text, 16);
    EXPECT_STREQ(text, L"built-in %s tex") << "cut to the buffer";
}

}  // namespace

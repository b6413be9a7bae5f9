// Parsed PPD statements: registration and line states, sources and includes,
// the language module's extension resource, and the grouping into entries.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ppd/PPDSettings.h"
#include "tests/ppd/PPDTestUtil.h"

using namespace PPDParser;

namespace {

// A parser over named texts held in memory.
struct MemParse {
    std::shared_ptr<ppdtest::MemStore> store = std::make_shared<ppdtest::MemStore>();
    std::unique_ptr<ppdtest::CMemIOPlugIn> plugIn = std::make_unique<ppdtest::CMemIOPlugIn>(store, nullptr);
    std::unique_ptr<CPPDSettings> settings = std::make_unique<CPPDSettings>(plugIn.get());

    bool Parse(const std::string& text, const wchar_t* name = L"test.ppd") {
        (*store)[name] = text;
        return settings->Parse(name);
    }
    const CPPDEntry* Find(int group, const wchar_t* keyword) const {
        for (const auto& e : settings->Group(group))
            if (e->keyword == keyword) return e.get();
        return nullptr;
    }
    int GroupOf(const wchar_t* keyword) const {
        for (int g = 0; g < kGroupCount; ++g)
            if (Find(g, keyword)) return g;
        return -1;
    }
};

std::wstring TempPath(const wchar_t* name) { return std::wstring(TOLVA_BINARY_DIR_W) + L"\\" + name; }

}  // namespace

TEST(PPDSettings, LineStates) {
    struct Case {
        const char* name;
        const char* line;
        int state;
    };
    const Case cases[] = {
        {"PPD-Adobe", "*PPD-Adobe: \"4.3\"", kLineGood},
        {"OpenUI with plain value", "*OpenUI *PageSize/Page Size: PickOne", kLineGood},
        {"OrderDependency", "*OrderDependency: 10 AnySetup *PageSize", kLineGood},
        {"UIConstraints", "*UIConstraints: *PageSize A5 *InputSlot Tray1", kLineGood},
        {"option with quoted value", "*PageSize A4/A4: \"code\"", kLineGood},
        {"unknown keyword", "*TolvaTray3 True/Installed: \"\"", kLineGood},
        {"option statement with plain value", "*PageSize A4: plain", kLineWrongValueType},
        {"query with quoted value", "*?PageSize: \"save\"", kLineWrongValueType},
        {"option missing", "*PageSize: \"code\"", kLineOptionMissing},
        {"default with quoted value", "*DefaultPageSize: \"A4\"", kLineWrongValueType},
    };
    for (const Case& c : cases) {
        MemParse p;
        ASSERT_TRUE(p.Parse(std::string(c.line) + "\r\n")) << c.name;
        ASSERT_EQ(p.settings->Statements().size(), 1u) << c.name;
        EXPECT_EQ(p.settings->Statements()[0]->lineState, c.state) << c.name;
        const bool rejected = c.state != kLineGood && p.settings->Statements()[0]->row;
        EXPECT_EQ(p.settings->Rejected().size(), rejected ? 1u : 0u) << c.name;
    }
}

TEST(PPDSettings, DuplicateDefaultKeepsTheFirstSlotAndTheLaterDefault) {
    MemParse p;
    ASSERT_TRUE(p.Parse(
        "*OpenUI *PageSize: PickOne\r\n*DefaultPageSize: A4\r\n*PageSize A4: \"a\"\r\n*PageSize Letter: \"l\"\r\n"
        "*DefaultPageSize: Letter\r\n*CloseUI: *PageSize\r\n"));
    const PPDStatement* slot = p.settings->Slot(110);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->value, L"A4");
    ASSERT_EQ(p.settings->Rejected().size(), 1u);
    EXPECT_EQ(p.settings->Rejected()[0]->value, L"Letter");
    EXPECT_EQ(p.settings->Rejected()[0]->lineState, kLineDuplicate);
    ASSERT_TRUE(p.settings->BuildGroups());
    const CPPDEntry* e = p.Find(5, L"*PageSize");
    ASSERT_NE(e, nullptr);
    ASSERT_NE(e->defaultStatement, nullptr);
    EXPECT_EQ(e->defaultStatement->value, L"Letter");
    EXPECT_EQ(e->options.size(), 2u);
    // Option statements of a keyword that takes an option always take the slot.
    EXPECT_EQ(p.settings->Slot(109)->option, L"Letter");
}

TEST(PPDSettings, GroupsFollowOpenGroupAndPrefixes) {
    MemParse p;
    ASSERT_TRUE(p.Parse(
        "*PPD-Adobe: \"4.3\"\r\n"
        "*OpenGroup: InstallableOptions/Options Installed\r\n"
        "*OpenUI *TolvaTray3/Tray 3: Boolean\r\n*DefaultTolvaTray3: False\r\n*TolvaTray3 True/Installed: \"\"\r\n"
        "*TolvaTray3 False/Not Installed: \"\"\r\n*CloseUI: *TolvaTray3\r\n"
        "*CloseGroup: InstallableOptions\r\n"
        "*OpenGroup: DriverProperties\r\n*OpenUI *TwoWayComm: Boolean\r\n*TwoWayComm True: \"\"\r\n"
        "*CloseUI: *TwoWayComm\r\n*CloseGroup: DriverProperties\r\n"
        "*OpenGroup: TolvaFinishing\r\n*OpenUI *OutputBin: PickOne\r\n*OutputBin Standard: \"\"\r\n"
        "*CloseUI: *OutputBin\r\n*CloseGroup: TolvaFinishing\r\n"
        "*OpenUI *Resolution: PickOne\r\n*DefaultResolution: 600dpi\r\n*Resolution 600dpi: \"\"\r\n"
        "*CloseUI: *Resolution\r\n"
        "*OpenUI *TolvaLocal: PickOne\r\n*TolvaLocal A: \"\"\r\n*CloseUI: *TolvaLocal\r\n"
        "*%PS_%OutputFormat Speed/Speed: \"\"\r\n"
        "*%VYRUI_QVStaple None/None: \"\"\r\n*%VYRUI_DefaultQVStaple: None\r\n"
        "*%VYRNONUI_QVStaple Saddle/Saddle: \"\"\r\n"
        "*%VYRNONUI_VYRSpecialOption Billing: \"True\"\r\n"
        "*%Other statement\r\n"
        "*VYRFlags *QVScale: Dynamic\r\n"));
    ASSERT_TRUE(p.settings->BuildGroups());
    struct Case {
        const wchar_t* keyword;
        int group;
    };
    const Case cases[] = {
        {L"*PPD-Adobe", 1},    {L"*TolvaTray3", 2},       {L"*TwoWayComm", 3},         {L"*OutputBin", 5},
        {L"*Resolution", 5},   {L"*TolvaLocal", 5},       {L"*%OutputFormat", 4},      {L"*QVStaple", 6},
        {L"*VYRSpecialOption", 7}, {L"*Other", 7},        {L"*VYRFlags", 7},
    };
    for (const Case& c : cases) EXPECT_EQ(p.GroupOf(c.keyword), c.group) << ppdtest::Narrow(c.keyword);
    EXPECT_TRUE(p.settings->Group(0).empty());

    const CPPDEntry* tray = p.Find(2, L"*TolvaTray3");
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->translation, L"Tray 3");
    EXPECT_EQ(tray->options.size(), 2u);
    ASSERT_NE(tray->offOption, nullptr);
    EXPECT_EQ(tray->offOption->option, L"False");
    ASSERT_EQ(tray->others.size(), 1u);
    EXPECT_EQ(tray->others[0]->value, L"Boolean");
    // The non-UI statement of a keyword that group 6 holds joins that entry.
    const CPPDEntry* staple = p.Find(6, L"*QVStaple");
    ASSERT_NE(staple, nullptr);
    EXPECT_EQ(staple->options.size(), 2u);
    EXPECT_EQ(p.Find(7, L"*QVStaple"), nullptr);
}

TEST(PPDSettings, MissingCloseUIEndsAtTheNextFeatureOrSource) {
    MemParse p;
    ASSERT_TRUE(p.Parse(
        "*OpenUI *A: PickOne\r\n*DefaultA: x\r\n*A x: \"\"\r\n"
        "*OpenUI *B: PickOne\r\n*B y: \"\"\r\n*CloseUI: *B\r\n"
        "*OpenUI *C: PickOne\r\n*C z: \"\"\r\n"
        "*OpenGroup: Finishing\r\n*OpenUI *D: PickOne\r\n*D w: \"\"\r\n*CloseGroup: Finishing\r\n"
        "*UIConstraints: *A x *B y\r\n*OpenUI *E: PickOne\r\n*E v: \"\"\r\n"));
    (*p.store)[L"ext"] = "*%VYRUI_QVColorMode CMYK/Color: \"\"\r\n*UIConstraints: *QVColorMode CMYK *A x\r\n";
    ASSERT_TRUE(p.settings->Parse(L"ext"));
    ASSERT_TRUE(p.settings->BuildGroups());
    for (const wchar_t* k : {L"*A", L"*B", L"*C", L"*D", L"*E"}) {
        const CPPDEntry* e = p.Find(5, k);
        ASSERT_NE(e, nullptr) << ppdtest::Narrow(k);
        EXPECT_EQ(e->options.size(), 1u) << ppdtest::Narrow(k);
    }
    // The constraint line after the unclosed *D is not swallowed by it.
    const CPPDEntry* constraints = p.settings->UIConstraintsEntry();
    ASSERT_NE(constraints, nullptr);
    EXPECT_EQ(constraints->kind, kEntryConstraints);
    EXPECT_EQ(constraints->others.size(), 2u) << "the PPD's line and the extension's line";
    // Nor does the unclosed *E swallow the extension source.
    EXPECT_NE(p.Find(6, L"*QVColorMode"), nullptr);
}

TEST(PPDSettings, ConstraintsInsideAFeatureJoinIt) {
    MemParse p;
    ASSERT_TRUE(p.Parse("*OpenUI *A: PickOne\r\n*UIConstraints: *A x *B y\r\n*CloseUI: *A\r\n"
                        "*OpenGroup: G\r\n*UIConstraints: *C x *D y\r\n*CloseGroup: G\r\n"
                        "*UIConstraints: *E x *F y\r\n"));
    ASSERT_TRUE(p.settings->BuildGroups());
    const CPPDEntry* a = p.Find(5, L"*A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->others.size(), 2u);
    EXPECT_EQ(p.settings->UIConstraintsEntry(), a) << "the first entry that received a constraint line";
    const CPPDEntry* inGroup = p.Find(5, L"*UIConstraints");
    ASSERT_NE(inGroup, nullptr);
    EXPECT_EQ(inGroup->kind, kEntryConstraints);
    EXPECT_NE(p.Find(1, L"*UIConstraints"), nullptr);
}

TEST(PPDSettings, RangeAndNoteEntriesUseTheOptionAsKeyword) {
    MemParse p;
    ASSERT_TRUE(p.Parse("*%VYRUI_Range *QVScale/Scaling: (25;400;1;100): \"s\"\r\n*%VYRUI_DefaultQVScale: 150\r\n"
                        "*%JobNote *QVJobLabel/Job Label: 31:\r\n*VYRRange *QVGap/Gap: (0;9;1;2): \"\"\r\n"
                        "*%MixedMedia *QVTab/Tabs: (4;2):\r\n*StringSoup *QVSoup/Soup: 256:\r\n"));
    ASSERT_TRUE(p.settings->BuildGroups());
    struct Case {
        const wchar_t* keyword;
        int group;
        int kind;
    };
    const Case cases[] = {{L"*QVScale", 6, kEntryRange},      {L"*QVJobLabel", 1, kEntryJobNote},
                          {L"*QVGap", 6, kEntryRange},        {L"*QVTab", 1, kEntryMixedMedia},
                          {L"*QVSoup", 1, kEntryStringSoup}};
    for (const Case& c : cases) {
        const CPPDEntry* e = p.Find(c.group, c.keyword);
        ASSERT_NE(e, nullptr) << ppdtest::Narrow(c.keyword);
        EXPECT_EQ(e->kind, c.kind) << ppdtest::Narrow(c.keyword);
        EXPECT_EQ(e->others.size(), 1u) << ppdtest::Narrow(c.keyword);
    }
    const CPPDEntry* scale = p.Find(6, L"*QVScale");
    EXPECT_EQ(scale->translation, L"Scaling");
    ASSERT_NE(scale->defaultStatement, nullptr);
    EXPECT_EQ(scale->defaultStatement->value, L"150");
}

TEST(PPDSettings, SourcesIncludesAndMissingFiles) {
    const std::wstring dir = std::wstring(TOLVA_BINARY_DIR_W) + L"\\includes";
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(ppdtest::WriteBytes(dir + L"\\main.ppd",
                                    "*PPD-Adobe: \"4.3\"\r\n*Include: \"inc.ppd\"\r\n*Include: \"self.ppd\"\r\n"
                                    "*Include: \"missing.ppd\"\r\n*Include: \"deep1.ppd\"\r\n*ModelName: \"M\"\r\n"));
    ASSERT_TRUE(ppdtest::WriteBytes(dir + L"\\inc.ppd", "*NickName: \"From include\"\r\n"));
    ASSERT_TRUE(ppdtest::WriteBytes(dir + L"\\self.ppd", "*Self: x\r\n*Include: \"self.ppd\"\r\n"));
    for (int i = 1; i <= 12; ++i) {
        const std::string body = "*Depth" + std::to_string(i) + ": x\r\n*Include: \"deep" + std::to_string(i + 1) +
                                 ".ppd\"\r\n";
        ASSERT_TRUE(ppdtest::WriteBytes(dir + L"\\deep" + std::to_wstring(i) + L".ppd", body));
    }
    CPPDSettings settings;
    ASSERT_TRUE(settings.Parse((dir + L"\\main.ppd").c_str()));
    std::vector<std::wstring> keywords;
    for (const auto& s : settings.Statements()) keywords.emplace_back(s->keyword.begin(), s->keyword.end());
    ASSERT_GE(keywords.size(), 4u);
    EXPECT_EQ(keywords[0], L"*PPD-Adobe");
    EXPECT_EQ(keywords[1], L"*NickName") << "an include without a folder is read from the PPD's folder";
    EXPECT_EQ(keywords[2], L"*Self") << "an include cycle is read once";
    EXPECT_EQ(keywords.back(), L"*ModelName");
    int depth = 0;
    for (const auto& k : keywords)
        if (k.rfind(L"*Depth", 0) == 0) ++depth;
    EXPECT_EQ(depth, CPPDSettings::kMaxIncludeDepth - 1) << "include nesting is bounded";
    for (const auto& k : keywords) EXPECT_NE(k, L"*Include") << "include statements are dropped";

    CPPDSettings missing;
    EXPECT_FALSE(missing.Parse(TempPath(L"no-such.ppd").c_str())) << "a PPD that cannot be opened fails";
    EXPECT_TRUE(missing.Statements().empty());
    EXPECT_FALSE(missing.Parse(nullptr));
    EXPECT_FALSE(missing.Parse(L""));
}

TEST(PPDSettings, EmptyAndChunkSizedFilesKeepTheirLastStatement) {
    // Files of exactly one and two chunks: the end of the file falls on a read
    // that returns no bytes.
    auto exactFile = [](size_t size, const std::string& last, size_t* fillers) {
        const size_t remaining = size - last.size();
        *fillers = (remaining - 205) / 12;
        const size_t comment = remaining - 12 * *fillers;
        std::string text = "*% " + std::string(comment - 5, 'c') + "\r\n";
        for (size_t i = 0; i < *fillers; ++i) text += "*Filler: x\r\n";
        return text + last;
    };
    struct Case {
        const char* name;
        size_t size;
        std::string last;
    };
    const Case cases[] = {
        {"one chunk, last line without break", CFunctIO::kBufferSize, "*Last: x"},
        {"one chunk, last line with break", CFunctIO::kBufferSize, "*Last: x\r\n"},
        {"two chunks, last line without break", 2 * CFunctIO::kBufferSize, "*Last: x"},
    };
    for (const Case& c : cases) {
        size_t fillers = 0;
        const std::string bytes = exactFile(c.size, c.last, &fillers);
        ASSERT_EQ(bytes.size(), c.size) << c.name;
        const std::wstring path = TempPath(L"chunk.ppd");
        ASSERT_TRUE(ppdtest::WriteBytes(path, bytes)) << c.name;
        CPPDSettings settings;
        ASSERT_TRUE(settings.Parse(path.c_str())) << c.name;
        ASSERT_EQ(settings.Statements().size(), fillers + 1) << c.name;
        EXPECT_EQ(settings.Statements().back()->keyword, L"*Last") << c.name;
        EXPECT_EQ(settings.Statements().back()->value, L"x") << c.name;
    }
    const std::wstring empty = TempPath(L"empty.ppd");
    ASSERT_TRUE(ppdtest::WriteBytes(empty, ""));
    CPPDSettings settings;
    EXPECT_TRUE(settings.Parse(empty.c_str()));
    EXPECT_TRUE(settings.Statements().empty());
}

TEST(PPDSettings, LanguageModuleExtensionsJoinTheStatementList) {
    const std::wstring ppd = std::wstring(TOLVA_BINARY_DIR_W) + L"\\tolva-sample.ppd";
    const std::wstring lan = std::wstring(TOLVA_BINARY_DIR_W) + L"\\tolva-sample.LAN";
    CPPDSettings settings;
    ASSERT_TRUE(settings.Parse(ppd.c_str()));
    const size_t fromPPD = settings.Statements().size();
    EXPECT_STREQ(settings.GetLocaleName(), L"en");
    EXPECT_EQ(settings.GetLanguageId(), 0x409);
    EXPECT_EQ(settings.GetEncoding(), L"ISOLatin1");
    CResIOPlugIn res(lan.c_str(), L"PPD", nullptr, 0);
    ASSERT_TRUE(settings.Parse(L"IDR_PPDEXTENSIONS", &res));
    EXPECT_GT(settings.Statements().size(), fromPPD);
    for (const auto& s : settings.Statements()) EXPECT_EQ(s->lineState, kLineGood) << ppdtest::Narrow(s->keyword);
    ASSERT_TRUE(settings.BuildGroups());

    const CPPDEntry* color = nullptr;
    for (const auto& e : settings.Group(6))
        if (e->keyword == L"*QVColorMode") color = e.get();
    ASSERT_NE(color, nullptr);
    ASSERT_EQ(color->options.size(), 2u);
    EXPECT_NE(color->options[0]->value.find(L"\r\n"), std::wstring::npos) << "multi-line code keeps its breaks";
    ASSERT_NE(settings.UIConstraintsEntry(), nullptr);
    EXPECT_EQ(settings.UIConstraintsEntry()->others.size(), 16u);
    ASSERT_NE(settings.NonUIConstraintsEntry(), nullptr);
    EXPECT_EQ(settings.NonUIConstraintsEntry()->others.size(), 4u);

    // A missing resource or module is an absent input, not a failure.
    CPPDSettings noExt;
    ASSERT_TRUE(noExt.Parse(ppd.c_str()));
    CResIOPlugIn wrongName(lan.c_str(), L"PPD", nullptr, 0);
    EXPECT_TRUE(noExt.Parse(L"NO_SUCH_RESOURCE", &wrongName));
    CResIOPlugIn noModule(TempPath(L"absent.LAN").c_str(), L"PPD", nullptr, 0);
    EXPECT_TRUE(noExt.Parse(L"IDR_PPDEXTENSIONS", &noModule));
    EXPECT_EQ(noExt.Statements().size(), fromPPD);
}

TEST(PPDSettings, JapaneseSampleIsDecodedAsShiftJIS) {
    const std::wstring ppd = std::wstring(TOLVA_SOURCE_DIR_W) + L"\\tests\\ppd\\data\\tolva-sample-ja.ppd";
    CPPDSettings settings;
    ASSERT_TRUE(settings.Parse(ppd.c_str()));
    EXPECT_STREQ(settings.GetLocaleName(), L"ja");
    EXPECT_EQ(settings.GetLanguageId(), 0x411);
    EXPECT_EQ(settings.GetCodePage(), 932u);
    EXPECT_EQ(settings.GetEncoding(), L"JIS83-RKSJ");
    ASSERT_TRUE(settings.BuildGroups());
    const CPPDEntry* slot = nullptr;
    const CPPDEntry* size = nullptr;
    for (const auto& e : settings.Group(5)) {
        if (e->keyword == L"*InputSlot") slot = e.get();
        if (e->keyword == L"*PageSize") size = e.get();
    }
    ASSERT_NE(slot, nullptr);
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->translation, L"\u7528\u7D19\u30B5\u30A4\u30BA");
    bool manual = false;
    for (const PPDStatement* o : slot->options)
        if (o->option == L"Manual") {
            manual = true;
            EXPECT_EQ(o->optionTranslation, L"\u624B\u5DEE\u3057") << "hex substring in Shift-JIS";
        }
    EXPECT_TRUE(manual);
}

// Note keys: the comment and setup tables, PostScript escaping, control characters
// kept off DSC lines, code pages per key, the binary forms, and the special note
// keys (custom print size, colour management, password).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "KeyTestSupport.h"
#include "settings/KeyFactory.h"
#include "settings/KeyNoteSetting.h"
#include "settings/KeyNoteSpecials.h"

namespace {
struct NoteState : FakeDrvState {
    CKeyNoteSetting Note(const wchar_t* keyword, const wchar_t* text, const wchar_t* templ = nullptr,
                         const wchar_t* comment = nullptr, int maxLength = 255) {
        return CKeyNoteSetting(Slot(keyword), text, SoupSlotID(), templ ? Slot(templ) : SoupSlotID(),
                               comment ? Slot(comment) : SoupSlotID(), maxLength);
    }
};

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
}  // namespace

TEST(NoteKey, CommentTable) {
    struct Case {
        const char* name;
        const wchar_t* keyword;
        const wchar_t* valueList;  // the key's own list
        const wchar_t* text;
        const wchar_t* commentTemplate;
        const char* comment;
    };
    const Case cases[] = {
        {"member", L"*QVDeptCode", L"Member", L"1234", nullptr, "%%DeptPassword: 1234"},
        {"member empty", L"*QVDeptCode", L"Member", L"", nullptr, "%%DeptPassword: "},
        {"resume", L"*QVPersCode", L"Resume", L"77", nullptr, "%%PersPassword: 77"},
        {"print time", L"*QVPrintTime", L"TimeToPrint", L"12:00", nullptr, "%%VYRPrintTime: 12:00"},
        {"secure print", L"*QVSecurePrint", L"SecPrint", L"4711", nullptr, "%% @@DEV=SECUREPRINT"},
        {"secure print empty", L"*QVSecurePrint", L"SecPrint", L"", nullptr, ""},
        {"first row wins", L"*QVBoth", L"Resume|Member", L"9", nullptr, "%%DeptPassword: 9"},
        {"own template", L"*QVJobNote", nullptr, L"Tolva fixture", L"%%VYRJobNote: (<*QVJobNote>)",
         "%%VYRJobNote: (Tolva fixture)"},
        {"no template", L"*QVPlain", nullptr, L"x", nullptr, ""},
    };
    for (const Case& c : cases) {
        NoteState st;
        if (c.valueList) st.SetKeyValueList(c.keyword, c.valueList);
        const CKeyNoteSetting k = st.Note(c.keyword, c.text, nullptr, c.commentTemplate);
        EXPECT_EQ(c.comment, CommentA(k, st.State())) << c.name;
        EXPECT_EQ(c.comment, Narrow(CommentW(k, st.State()))) << c.name;
    }
}

TEST(NoteKey, SetupTableAndEscaping) {
    struct Case {
        const char* name;
        const wchar_t* keyword;
        const wchar_t* valueList;  // own list
        const wchar_t* ppxFlags;   // under *PPXFlags
        const wchar_t* text;
        const wchar_t* templ;
        const char* setup;
    };
    const Case cases[] = {
        {"escaped", L"*QVJobName", nullptr, nullptr, L"a(b)", L"(<*QVJobName>) pop",
         "%%BeginFeature: *QVJobName a(b)\r\n  (a\\050b\\051) pop\r\n%%EndFeature\r\n"},
        {"job note", L"*QVJobNote", nullptr, L"UTF8", L"Tolva fixture", L"userdict (VYRJobNote) cvn (<*QVJobNote>) put",
         "%%BeginFeature: *QVJobNote Tolva fixture\r\n  userdict (VYRJobNote) cvn (Tolva fixture) "
         "put\r\n%%EndFeature\r\n"},
        {"no setup text", L"*QVJobName", nullptr, L"NoSetupTxt|UTF8", L"x", L"(<*QVJobName>) pop", ""},
        {"template, empty text", L"*QVJobNote", nullptr, nullptr, L"", L"(<*QVJobNote>) pop", ""},
        {"no template, empty text", L"*VYRDomainTag", nullptr, nullptr, L"", nullptr,
         "%%BeginFeature: *VYRDomainTag \r\n  %%EmptyOption\r\n%%EndFeature\r\n"},
        {"member has no setup", L"*QVDeptCode", L"Member", nullptr, L"1234", L"(<*QVDeptCode>)", ""},
        {"encrypt without module", L"*QVAccountCode", L"Encrypt", nullptr, L"42", L"(<*QVAccountCode>)", ""},
    };
    for (const Case& c : cases) {
        NoteState st;
        if (c.valueList) st.SetKeyValueList(c.keyword, c.valueList);
        if (c.ppxFlags) st.AddPPXFlags(c.keyword, c.ppxFlags);
        const CKeyNoteSetting k = st.Note(c.keyword, c.text, c.templ);
        const std::string a = SetupA(k, st.State());
        EXPECT_EQ(c.setup, a) << c.name;
        EXPECT_EQ(c.setup, Narrow(SetupW(k, st.State()))) << c.name;
        if (!a.empty()) WritePostScriptJob(std::string("note-") + c.name, a, false, false);
    }
}

TEST(NoteKey, ControlCharactersNeverLeaveTheirLine) {
    NoteState st;
    const wchar_t* hostile = L"x\r\n%%EndFeature\r\n(INJECTED) =\r\n%%BeginFeature: y";
    const CKeyNoteSetting k =
        st.Note(L"*QVJobNote", hostile, L"userdict (VYRJobNote) cvn (<*QVJobNote>) put", L"%%VYRJobNote: <*QVJobNote>");
    const std::string comment = CommentA(k, st.State());
    EXPECT_EQ("%%VYRJobNote: x  %%EndFeature  (INJECTED) =  %%BeginFeature: y", comment);
    const std::string setup = SetupA(k, st.State());
    EXPECT_EQ(
        "%%BeginFeature: *QVJobNote x  %%EndFeature  (INJECTED) =  %%BeginFeature: y\r\n"
        "  userdict (VYRJobNote) cvn (x\\015\\012%%EndFeature\\015\\012\\050INJECTED\\051 =\\015\\012%%BeginFeature: y) "
        "put\r\n%%EndFeature\r\n",
        setup);
    EXPECT_EQ(setup, Narrow(SetupW(k, st.State())));
    WritePostScriptJob("inject-note", comment + "\r\n" + setup, false, false);
}

TEST(NoteKey, CodePages) {
    struct Case {
        const char* name;
        const wchar_t* keyword;
        const wchar_t* version;  // "*QVUTF8_Version" under "*VYRSpecialOption"; null: absent
        bool utf8Listed;
        bool commentUtf8, setupUtf8;
    };
    const Case cases[] = {
        {"no version, listed", L"*QVJobNote", nullptr, true, false, false},
        {"version 3, listed", L"*QVJobNote", L"3", true, true, true},
        {"version 3, not listed", L"*QVJobNote", L"3", false, false, false},
        {"PC name at 3 follows the flag", L"*QVPCName", L"3", false, false, false},
        {"PC name at 4 is UTF-8", L"*QVPCName", L"4", false, false, true},
        {"For comments are UTF-8", L"*QVFor", nullptr, false, true, false},
    };
    for (const Case& c : cases) {
        NoteState st;
        if (c.version) st.AddOption(L"*VYRSpecialOption", L"*QVUTF8_Version", c.version);
        if (c.utf8Listed) st.AddPPXFlags(c.keyword, L"UTF8");
        const std::wstring tag = std::wstring(L"<") + c.keyword + L">";
        const CKeyNoteSetting k = st.Note(c.keyword, L"\x00e9", (L"(" + tag + L")").c_str(), (L"%%C: " + tag).c_str());
        EXPECT_EQ(c.commentUtf8 ? 65001u : 1252u, k.GetCommentCodePage(st.State())) << c.name;
        EXPECT_EQ(c.setupUtf8 ? 65001u : 1252u, k.GetSetupCodePage(st.State())) << c.name;
        const std::string comment = CommentA(k, st.State());
        EXPECT_EQ(c.commentUtf8 ? "%%C: \xC3\xA9" : "%%C: \xE9", comment) << c.name;
    }
}

TEST(NoteKey, TextAndBinaryForms) {
    NoteState st;
    CKeyNoteSetting k = st.Note(L"*QVJobLabel", L"", nullptr, nullptr, 3);
    EXPECT_EQ(1, k.SetFromText(&st.soup, nullptr, nullptr, L"abcdef"));
    EXPECT_STREQ(L"abcd", k.GetNoteText());
    EXPECT_EQ(0, k.SetFromText(nullptr, nullptr, nullptr, L"x"));

    // Without a soup: maxLength UTF-16 units, cut and zero-filled.
    uint8_t bytes[6];
    EXPECT_EQ(6u, k.GetData(nullptr, nullptr, 0));
    ASSERT_EQ(6u, k.GetData(nullptr, bytes, 6));
    EXPECT_EQ(0, std::memcmp(bytes, "a\0b\0c\0", 6));
    CKeyNoteSetting back = st.Note(L"*QVJobLabel", L"zz", nullptr, nullptr, 3);
    EXPECT_EQ(6u, back.SetData(nullptr, bytes, 6));
    EXPECT_STREQ(L"abc", back.GetNoteText()) << "never past the given size";
    EXPECT_EQ(0u, back.SetData(nullptr, bytes, 5));

    // With a soup: the slot of the text.
    uint8_t slot[4];
    CKeyNoteSetting word = st.Note(L"*QVJobLabel", L"Tolva");
    ASSERT_EQ(4u, word.GetData(&st.soup, slot, 4));
    CKeyNoteSetting read = st.Note(L"*QVJobLabel", L"");
    EXPECT_EQ(4u, read.SetData(&st.soup, slot, 4));
    EXPECT_STREQ(L"Tolva", read.GetNoteText());
    const int32_t bad = 99999;
    CKeyNoteSetting none = st.Note(L"*QVJobLabel", L"kept");
    EXPECT_EQ(4u, none.SetData(&st.soup, &bad, 4));
    EXPECT_STREQ(L"kept", none.GetNoteText()) << "a slot the soup lacks changes nothing";

    wchar_t text[32];
    ASSERT_EQ(19u, word.GetText(&st.soup, text, 32));
    EXPECT_STREQ(L"*QVJobLabel", text);
    EXPECT_STREQ(L"Tolva", text + 12);
    EXPECT_TRUE(word.Equals(std::unique_ptr<CKeySetting>(word.Clone()).get()));
    EXPECT_TRUE(word.Differs(&read) == false);
    EXPECT_TRUE(word.Differs(&none));
}

TEST(CustomPrintSize, OnlyNumbersReachTheJob) {
    struct Case {
        const char* name;
        const wchar_t* text;
        const char* setup;
    };
    const Case cases[] = {
        {"false", L"False", ""},
        {"size", L"612 792",
         "%%BeginFeature: *CustomPrintSize 612 792\r\n   userdict /RQXVYRsetpageproperties known\r\n    {<< "
         "/RQXsetPrintSize [ 612 792 0 0 1 ] >> RQXVYRsetpageproperties} if\r\n%%EndFeature\r\n"},
        {"decimals", L" 612.5  792.25 ",
         "%%BeginFeature: *CustomPrintSize 612.50 792.25\r\n   userdict /RQXVYRsetpageproperties known\r\n    {<< "
         "/RQXsetPrintSize [ 612.50 792.25 0 0 1 ] >> RQXVYRsetpageproperties} if\r\n%%EndFeature\r\n"},
        {"hostile", L"1 ] >> pop (INJECTED) = [ 0", ""},
        {"line break", L"612\r\n792", ""},
        {"edge word", L"612 792 0 0 ShortEdge", ""},
        {"empty", L"", ""},
        {"one number", L"612", ""},
    };
    for (const Case& c : cases) {
        NoteState st;
        const int key = st.Slot(L"*CustomPrintSize").GetIndex();
        const int def = st.Slot(c.text).GetIndex();
        const RecordBytes r = NoteRecord(key, -1, -1, def, 64);
        const CompiledKeyRecord rec = r.Record();
        std::unique_ptr<CKeySetting> made(CreateKeySetting(&st.soup, &rec));
        auto* k = dynamic_cast<CKeyCustPrintSz*>(made.get());
        ASSERT_NE(nullptr, k) << c.name;
        EXPECT_STREQ(c.text, k->GetNoteText()) << c.name;
        const std::string a = SetupA(*k, st.State());
        EXPECT_EQ(c.setup, a) << c.name;
        EXPECT_EQ(c.setup, Narrow(SetupW(*k, st.State()))) << c.name;
        if (!a.empty()) WritePostScriptJob(std::string("printsize-") + c.name, a, false, false);
    }
    // The hostile text as the unchecked emitter wrote it, kept as a file the
    // interpreter check must see print nothing: it is never produced now.
}

TEST(CustomPrintSize, FormatTable) {
    struct Case {
        const wchar_t* text;
        const wchar_t* def;
        bool shortForm, decimal;
        const wchar_t* out;
    };
    const Case cases[] = {
        {L"junk", nullptr, false, false, L"612 792 0 0 ShortEdge"},
        {nullptr, nullptr, true, false, L"612 792"},
        {L"842 595", nullptr, false, false, L"842 595 0 0 LongEdge"},
        {L"500.5 600.25", nullptr, true, true, L"500.50 600.25"},
        {L"500.5 600.25", nullptr, false, true, L"500.50 600.25 0 0 ShortEdge"},
        {L"300 400 5 6 Custom", nullptr, false, false, L"300 400 5 6 Custom"},
        {L"700 700", L"100 200 1 2 Tray", false, false, L"700 700 1 2 LongEdge"},
        {L"junk", L"100 200", true, false, L"100 200"},
    };
    for (const Case& c : cases) {
        const WText out(FormatCustomPrintSize(c.text, c.def, c.shortForm, c.decimal));
        ASSERT_NE(nullptr, out) << static_cast<int>(&c - cases);
        EXPECT_STREQ(c.out, out.get()) << static_cast<int>(&c - cases);
    }
}

TEST(HueGuard, MarkedTextBecomesUtf8AndTheTildeGoes) {
    NoteState st;
    const int key = st.Slot(L"*~QVSimulation").GetIndex();
    const int templ = st.Slot(L"userdict (VYRSimulation) cvn (<*QVSimulation>) put").GetIndex();
    const RecordBytes r = NoteRecord(key, templ, -1, -1, 64);
    const CompiledKeyRecord rec = r.Record();
    std::unique_ptr<CKeySetting> made(CreateKeySetting(&st.soup, &rec));
    auto* k = dynamic_cast<CKeyHueGuardBiDi*>(made.get());
    ASSERT_NE(nullptr, k);
    EXPECT_EQ(0, k->GetSetupCodeA(st.State(), nullptr, 0)) << "empty text";
    ASSERT_EQ(1, k->SetFromText(&st.soup, nullptr, nullptr, L"\x00EF\x00BB\x00BFSWOP"));
    EXPECT_STREQ(L"EFBBBFSWOP", k->GetNoteText());
    const std::string a = SetupA(*k, st.State());
    EXPECT_EQ(
        "%%BeginFeature: *QVSimulation \xEF\xBB\xBFSWOP\r\n  userdict (VYRSimulation) cvn (\\357\\273\\277SWOP) "
        "put\r\n%%EndFeature\r\n",
        a);
    WritePostScriptJob("hueguard", a, false, false);
    char* low = k->ToNarrowText(L"\x0141\x00E9");
    ASSERT_NE(nullptr, low);
    EXPECT_STREQ("\x41\xE9", low);
    delete[] low;
}

TEST(PasswordKey, StoredEncryptedAndNeverEmitted) {
    NoteState st;
    const int key = st.Slot(L"*QVUserAuthPwd").GetIndex();
    const int def = st.Slot(L"abc").GetIndex();
    const RecordBytes r = NoteRecord(key, st.Slot(L"(<*QVUserAuthPwd>)").GetIndex(), -1, def, 32);
    const CompiledKeyRecord rec = r.Record();
    std::unique_ptr<CKeySetting> made(CreateKeySetting(&st.soup, &rec));
    auto* k = dynamic_cast<CKeyPasswordStr*>(made.get());
    ASSERT_NE(nullptr, k);
    // RC4 with the MD5 of the settings password, 40-bit key; "abc" and its terminator.
    EXPECT_STREQ(L"2703EE7C02B9D36E", k->GetNoteText());
    EXPECT_EQ(128, k->GetMaxLength());
    wchar_t text[64];
    ASSERT_EQ(20u, k->GetText(&st.soup, text, 64));
    EXPECT_STREQ(L"abc", text + 15);

    ASSERT_EQ(1, k->SetFromText(&st.soup, nullptr, nullptr, L"s3cret"));
    EXPECT_EQ(28u, wcslen(k->GetNoteText())) << "four digits per character and the terminator";
    std::unique_ptr<CKeySetting> copy(k->Clone());
    auto* c = dynamic_cast<CKeyPasswordStr*>(copy.get());
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(128, c->GetMaxLength());
    EXPECT_STREQ(k->GetNoteText(), c->GetNoteText());
    ASSERT_EQ(23u, c->GetText(&st.soup, text, 64));
    EXPECT_STREQ(L"s3cret", text + 15);

    EXPECT_EQ(0, k->GetSetupCodeA(st.State(), nullptr, 0));
    EXPECT_EQ(0, k->GetSetupCodeW(st.State(), nullptr, 0));
    EXPECT_EQ(0, k->GetCommentTextA(st.State(), nullptr, 0));

    CKeyPasswordStr damaged(st.Slot(L"*QVUserAuthPwd"), L"", SoupSlotID(), SoupSlotID(), SoupSlotID(), 8);
    damaged.SetNoteText(L"ZZ12");
    ASSERT_EQ(17u, damaged.GetText(&st.soup, text, 64)) << "undecryptable text reads as empty";
    EXPECT_STREQ(L"", text + 15);
}

// Dialog templates: standard templates converted to the extended form make the same controls,
// extended templates are copied, merged templates place the inserted controls at the anchor, and
// a template cut anywhere before its end is refused without reading past the cut.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SheetTestSupport.h"
#include "platform/DriverKit.h"
#include "sheets/DialogTemplates.h"

namespace {

using sheettest::CreateDialogFrom;
using sheettest::HostWindow;
using sheettest::TemplateResource;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<void, FreeDeleter>;

struct Control {
    std::wstring className;
    int id;
    LONG style;
    std::wstring text;
    RECT rect;
    std::vector<BYTE> creationData;
};

// Creation data seen by the probe class (lpCreateParams: the size word and the bytes after it).
std::vector<std::vector<BYTE>> g_probeData;

LRESULT CALLBACK ProbeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        std::vector<BYTE> bytes;
        if (const BYTE* data = static_cast<const BYTE*>(create->lpCreateParams)) {
            WORD count = 0;
            std::memcpy(&count, data, sizeof(count));
            bytes.assign(data, data + sizeof(WORD) + count);
        }
        g_probeData.push_back(bytes);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void RegisterProbe() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"CreationProbe";
    RegisterClassW(&wc);
}

std::vector<Control> Controls(HWND dialog) {
    std::vector<Control> controls;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        Control control{};
        wchar_t buffer[256] = {};
        GetClassNameW(child, buffer, 256);
        control.className = buffer;
        control.id = GetDlgCtrlID(child);
        control.style = GetWindowLongW(child, GWL_STYLE);
        GetWindowTextW(child, buffer, 256);
        control.text = buffer;
        GetWindowRect(child, &control.rect);
        MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&control.rect), 2);
        controls.push_back(control);
    }
    return controls;
}

std::vector<int> Ids(const std::vector<Control>& controls) {
    std::vector<int> ids;
    for (const Control& control : controls) ids.push_back(control.id);
    return ids;
}

void ExpectSameControls(const std::vector<Control>& expected, const std::vector<Control>& actual,
                        const std::string& which) {
    ASSERT_EQ(expected.size(), actual.size()) << which;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Control& e = expected[i];
        const Control& a = actual[i];
        EXPECT_EQ(e.className, a.className) << which << " control " << i;
        EXPECT_EQ(e.id, a.id) << which << " control " << i;
        EXPECT_EQ(e.style, a.style) << which << " control " << i;
        EXPECT_EQ(e.text, a.text) << which << " control " << i;
        EXPECT_TRUE(EqualRect(&e.rect, &a.rect)) << which << " control " << e.id;
    }
}

// Writes a standard template by hand: for shapes that resource compilers do not make (creation
// data, text class names).
class StandardBuilder {
public:
    StandardBuilder(DWORD style, bool font) {
        DLGTEMPLATE header{};
        header.style = style | (font ? DS_SETFONT : 0) | WS_CHILD | WS_VISIBLE;
        header.cx = 200;
        header.cy = 100;
        Put(&header, sizeof(header));
        Word(0);          // menu
        Word(0);          // class
        Text(L"Built");   // title
        if (font) {
            Word(8);
            Text(L"MS Shell Dlg");
        }
    }
    // An item of a named class or, with className null, of class ordinal 0x82 (static).
    void Item(WORD id, const wchar_t* className, const wchar_t* title, const std::vector<BYTE>& data) {
        Align(4);
        DLGITEMTEMPLATE item{};
        item.style = WS_CHILD | WS_VISIBLE;
        item.x = static_cast<short>(4 + 10 * m_items);
        item.y = static_cast<short>(4 + 12 * m_items);
        item.cx = 40;
        item.cy = 10;
        item.id = id;
        Put(&item, sizeof(item));
        if (className) {
            Text(className);
        } else {
            Word(0xFFFF);
            Word(0x0082);
        }
        Text(title);
        Word(static_cast<WORD>(data.size()));
        Put(data.data(), data.size());
        ++m_items;
        DLGTEMPLATE header;
        std::memcpy(&header, m_bytes.data(), sizeof(header));
        header.cdit = static_cast<WORD>(m_items);
        std::memcpy(m_bytes.data(), &header, sizeof(header));
    }
    const std::vector<BYTE>& Bytes() const { return m_bytes; }

private:
    void Put(const void* p, size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    void Word(WORD w) { Put(&w, sizeof(w)); }
    void Text(const wchar_t* text) { Put(text, (std::wcslen(text) + 1) * sizeof(wchar_t)); }
    void Align(size_t to) {
        while (m_bytes.size() % to) m_bytes.push_back(0);
    }
    std::vector<BYTE> m_bytes;
    int m_items = 0;
};

// Bytes placed so that they end exactly where a no-access page begins.
class GuardedBytes {
public:
    GuardedBytes(const void* bytes, size_t size) {
        SYSTEM_INFO system{};
        GetSystemInfo(&system);
        const size_t page = system.dwPageSize;
        const size_t pages = (size + page - 1) / page + 1;
        m_base = static_cast<BYTE*>(VirtualAlloc(nullptr, (pages + 1) * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(m_base + pages * page, page, PAGE_NOACCESS, &old);
        m_data = m_base + pages * page - size;
        if (size) std::memcpy(m_data, bytes, size);
    }
    ~GuardedBytes() { VirtualFree(m_base, 0, MEM_RELEASE); }
    const void* Data() const { return m_data; }

private:
    BYTE* m_base;
    BYTE* m_data;
};

class DialogTemplateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterProbe(); }

    static std::vector<BYTE> Resource(int id) {
        DWORD size = 0;
        const void* data = TemplateResource(id, &size);
        EXPECT_NE(data, nullptr) << "template " << id;
        if (!data) return {};
        const BYTE* bytes = static_cast<const BYTE*>(data);
        return std::vector<BYTE>(bytes, bytes + size);
    }

    HostWindow m_host;
};

struct StandardCase {
    const char* name;
    std::vector<BYTE> bytes;
};

std::vector<StandardCase> StandardCases() {
    StandardBuilder probe(0, true);
    probe.Item(200, L"CreationProbe", L"p", {1, 2, 3, 4, 5, 6});
    probe.Item(201, nullptr, L"A", {});
    probe.Item(202, L"CreationProbe", L"q", {9, 8});
    probe.Item(203, nullptr, L"B", {});
    StandardBuilder bare(0, false);
    bare.Item(210, nullptr, L"A", {});
    bare.Item(211, nullptr, L"B", {});
    bare.Item(212, L"CreationProbe", L"", {7, 7, 7, 7});
    return {{"2001 without font", {}}, {"2002 with font", {}}, {"1127", {}}, {"1172", {}},
            {"built with creation data", probe.Bytes()}, {"built without font", bare.Bytes()}};
}

const int kStandardIds[] = {2001, 2002, 1127, 1172};

TEST_F(DialogTemplateTest, ConvertedTemplatesMakeTheSameControls) {
    std::vector<StandardCase> cases = StandardCases();
    for (size_t i = 0; i < 4; ++i) cases[i].bytes = Resource(kStandardIds[i]);
    for (const StandardCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        DWORD size = 0;
        Buffer converted(CopyAsDialogTemplateEx(c.bytes.data(), static_cast<DWORD>(c.bytes.size()), &size));
        ASSERT_NE(converted, nullptr);
        const DLGTEMPLATEEX* header = static_cast<const DLGTEMPLATEEX*>(converted.get());
        EXPECT_EQ(header->dlgVer, 1);
        EXPECT_EQ(header->signature, 0xFFFF);
        // the result ends exactly where its last item ends: nothing was written past the size
        EXPECT_EQ(GetDialogTemplateExSize(converted.get(), size), size);

        g_probeData.clear();
        HWND original = CreateDialogFrom(m_host.Get(), c.bytes.data());
        ASSERT_NE(original, nullptr);
        const std::vector<std::vector<BYTE>> originalData = g_probeData;
        g_probeData.clear();
        HWND extended = CreateDialogFrom(m_host.Get(), converted.get());
        ASSERT_NE(extended, nullptr);
        EXPECT_EQ(originalData, g_probeData);
        ExpectSameControls(Controls(original), Controls(extended), c.name);
        wchar_t originalTitle[64] = {};
        wchar_t extendedTitle[64] = {};
        GetWindowTextW(original, originalTitle, 64);
        GetWindowTextW(extended, extendedTitle, 64);
        EXPECT_STREQ(originalTitle, extendedTitle);
        DestroyWindow(original);
        DestroyWindow(extended);
    }
}

TEST_F(DialogTemplateTest, ConversionWithoutFontWritesNoFontBlock) {
    StandardBuilder bare(0, false);
    std::vector<BYTE> bytes = bare.Bytes();
    DWORD size = 0;
    Buffer converted(ConvertToDialogTemplateEx(bytes.data(), static_cast<DWORD>(bytes.size()), &size));
    ASSERT_NE(converted, nullptr);
    // header (26) + menu (2) + class (2) + "Built" (12) and no font block after it
    EXPECT_EQ(size, 26u + 2 + 2 + 12);
    StandardBuilder withFont(0, true);
    bytes = withFont.Bytes();
    converted.reset(ConvertToDialogTemplateEx(bytes.data(), static_cast<DWORD>(bytes.size()), &size));
    ASSERT_NE(converted, nullptr);
    // ... + point size, weight, italic, charset (6) + "MS Shell Dlg" (26)
    EXPECT_EQ(size, 26u + 2 + 2 + 12 + 6 + 26);
}

TEST_F(DialogTemplateTest, ExtendedTemplatesAreCopiedByteForByte) {
    for (int id : {2003, 1253, 2010}) {
        SCOPED_TRACE(id);
        const std::vector<BYTE> bytes = Resource(id);
        DWORD size = 0;
        Buffer copy(CopyAsDialogTemplateEx(bytes.data(), static_cast<DWORD>(bytes.size()), &size));
        ASSERT_NE(copy, nullptr);
        ASSERT_EQ(size, GetDialogTemplateExSize(bytes.data(), static_cast<DWORD>(bytes.size())));
        EXPECT_LE(bytes.size() - size, 3u);  // only the resource's padding is left out
        EXPECT_EQ(0, std::memcmp(copy.get(), bytes.data(), size));
        EXPECT_EQ(ConvertToDialogTemplateEx(bytes.data(), static_cast<DWORD>(bytes.size())), nullptr);
    }
}

TEST_F(DialogTemplateTest, MergedControlsFollowTheirAnchor) {
    const std::vector<BYTE> page = Resource(1127);
    const std::vector<BYTE> first = Resource(1172);
    const std::vector<BYTE> second = Resource(1253);
    DWORD size = 0;
    Buffer once(MergeDialogTemplates(page.data(), static_cast<DWORD>(page.size()), first.data(),
                                     static_cast<DWORD>(first.size()), 1136, &size));
    ASSERT_NE(once, nullptr);
    DWORD mergedSize = 0;
    Buffer merged(MergeDialogTemplates(once.get(), size, second.data(), static_cast<DWORD>(second.size()), 1154,
                                       &mergedSize));
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(static_cast<const DLGTEMPLATEEX*>(merged.get())->cDlgItems, 10);
    EXPECT_EQ(GetDialogTemplateExSize(merged.get(), mergedSize), mergedSize);

    HWND dialog = CreateDialogFrom(m_host.Get(), merged.get());
    ASSERT_NE(dialog, nullptr);
    const std::vector<Control> controls = Controls(dialog);
    EXPECT_EQ(Ids(controls), (std::vector<int>{1135, 1136, 1173, 1174, 1175, 1137, 1154, 1256, 1325, 1155}));
    auto rectOf = [&](int id) {
        for (const Control& control : controls)
            if (control.id == id) return control.rect;
        return RECT{-1, -1, -1, -1};
    };
    // (0, 0) of an inserted template lands on its anchor's top-left corner
    EXPECT_EQ(rectOf(1173).left, rectOf(1136).left);
    EXPECT_EQ(rectOf(1173).top, rectOf(1136).top);
    EXPECT_EQ(rectOf(1256).left, rectOf(1154).left);
    EXPECT_EQ(rectOf(1256).top, rectOf(1154).top);
    // the other inserted controls keep their offsets (in dialog units) from there
    RECT expected{10 + 70, 16, 10 + 70, 16};
    MapDialogRect(dialog, &expected);
    EXPECT_EQ(rectOf(1174).left, expected.left);
    EXPECT_EQ(rectOf(1174).top, expected.top);
    sheettest::SaveWindowPng(dialog, L"merged_1127.png");
    DestroyWindow(dialog);
}

TEST_F(DialogTemplateTest, AnchorPositionsAndAbsentAnchor) {
    const std::vector<BYTE> page = Resource(1127);
    const std::vector<BYTE> inserted = Resource(1172);
    DWORD copySize = 0;
    Buffer copy(CopyAsDialogTemplateEx(page.data(), static_cast<DWORD>(page.size()), &copySize));
    struct Case {
        WORD anchor;
        std::vector<int> ids;
    } cases[] = {
        {1135, {1135, 1173, 1174, 1175, 1136, 1137, 1154, 1155}},
        {1155, {1135, 1136, 1137, 1154, 1155, 1173, 1174, 1175}},
        {9999, {1135, 1136, 1137, 1154, 1155}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.anchor);
        DWORD size = 0;
        Buffer merged(MergeDialogTemplates(page.data(), static_cast<DWORD>(page.size()), inserted.data(),
                                           static_cast<DWORD>(inserted.size()), c.anchor, &size));
        ASSERT_NE(merged, nullptr);
        if (c.anchor == 9999) {
            // an absent anchor gives the page alone
            ASSERT_EQ(size, copySize);
            EXPECT_EQ(0, std::memcmp(merged.get(), copy.get(), size));
        }
        HWND dialog = CreateDialogFrom(m_host.Get(), merged.get());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Ids(Controls(dialog)), c.ids);
        DestroyWindow(dialog);
    }
}

// Every cut of a template before its end is refused, and nothing is read past the cut (the
// bytes end at a no-access page).
TEST_F(DialogTemplateTest, EveryCutTemplateIsRefused) {
    std::vector<StandardCase> cases = StandardCases();
    for (size_t i = 0; i < 4; ++i) cases[i].bytes = Resource(kStandardIds[i]);
    cases.push_back({"2003 extended", Resource(2003)});
    cases.push_back({"1253 extended", Resource(1253)});
    const std::vector<BYTE> other = Resource(1172);
    for (const StandardCase& c : cases) {
        SCOPED_TRACE(c.name);
        DWORD whole = 0;
        Buffer full(CopyAsDialogTemplateEx(c.bytes.data(), static_cast<DWORD>(c.bytes.size()), &whole));
        ASSERT_NE(full, nullptr);
        // the template's own end: the resource may carry up to 3 bytes of padding after it
        DWORD end = static_cast<DWORD>(c.bytes.size());
        while (end > 0) {
            GuardedBytes guarded(c.bytes.data(), end - 1);
            Buffer shorter(CopyAsDialogTemplateEx(guarded.Data(), end - 1));
            if (!shorter) break;
            --end;
        }
        EXPECT_GE(end + 3, c.bytes.size());
        for (DWORD cut = 0; cut < end; ++cut) {
            GuardedBytes guarded(c.bytes.data(), cut);
            EXPECT_EQ(CopyAsDialogTemplateEx(guarded.Data(), cut), nullptr) << "cut at " << cut;
            EXPECT_EQ(GetDialogTemplateExSize(guarded.Data(), cut), 0u) << "cut at " << cut;
            EXPECT_EQ(MergeDialogTemplates(guarded.Data(), cut, other.data(), static_cast<DWORD>(other.size()), 1136),
                      nullptr)
                << "cut at " << cut;
            EXPECT_EQ(MergeDialogTemplates(other.data(), static_cast<DWORD>(other.size()), guarded.Data(), cut, 1173),
                      nullptr)
                << "cut at " << cut;
        }
        GuardedBytes exact(c.bytes.data(), end);
        Buffer whole2(CopyAsDialogTemplateEx(exact.Data(), end));
        EXPECT_NE(whole2, nullptr);
    }
}

TEST_F(DialogTemplateTest, NonsenseIsRefused) {
    const BYTE badVersion[32] = {2, 0, 0xFF, 0xFF};
    EXPECT_EQ(CopyAsDialogTemplateEx(badVersion, sizeof(badVersion)), nullptr);
    EXPECT_EQ(CopyAsDialogTemplateEx(nullptr, 100), nullptr);
    EXPECT_EQ(GetDialogTemplateExSize(nullptr, 100), 0u);
    EXPECT_EQ(MergeDialogTemplates(nullptr, 0, nullptr, 0, 1), nullptr);
}

}  // namespace

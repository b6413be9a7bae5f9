// Records, the fake driver state and the PostScript job files.
#include "KeyTestSupport.h"

#include <windows.h>

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "settings/KeyRecords.h"

RecordBytes& RecordBytes::I16(int v) {
    bytes.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    return *this;
}

RecordBytes& RecordBytes::I32(int32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF));
    return *this;
}

RecordBytes& RecordBytes::F64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    return *this;
}

RecordBytes& RecordBytes::PadTo(size_t size) {
    while (bytes.size() < size) bytes.push_back(0);
    return *this;
}

RecordBytes OptionRecord(int key, int defaultOption, const std::vector<OptionEntry>& entries,
                         const std::vector<int>& ids) {
    RecordBytes r;
    r.I16(0).I16(0).I16(key).I16(-1).I16(-1).I16(defaultOption).I16(static_cast<int>(entries.size()));
    r.I16(static_cast<int>(ids.size()));
    for (const OptionEntry& e : entries) r.I16(e.option).I16(e.display).I16(e.valueText).I16(e.valueList);
    for (int id : ids) r.I16(id);
    return r;
}

RecordBytes RangeRecord(int type, int key, int templ, double minimum, double maximum, double initial, int32_t extra) {
    RecordBytes r;
    r.I16(type).I16(50).I16(key).I16(-1).I16(-1).I16(templ).I16(0);
    r.F64(minimum).F64(maximum).F64(1.0).F64(initial).I32(extra);
    return r;
}

RecordBytes NoteRecord(int key, int templ, int comment, int defaultText, int maxLength) {
    RecordBytes r;
    r.I16(3).I16(18).I16(key).I16(-1).I16(-1).I16(templ).I16(comment).I16(defaultText).I16(maxLength);
    return r;
}

RecordBytes SoupRecord(int key, int bufferSize) {
    RecordBytes r;
    r.I16(4).I16(12).I16(key).I16(-1).I16(-1).I16(bufferSize);
    return r;
}

RecordBytes TableRecord(int key, int rows, int columns) {
    RecordBytes r;
    r.I16(5).I16(14).I16(key).I16(-1).I16(-1).I16(rows).I16(columns);
    return r;
}

// ---------------------------------------------------------------------------------

namespace {
FakeDrvState* Fake(CDrvState* s) { return reinterpret_cast<FakeDrvState*>(s); }
}  // namespace

FakeDrvState::FakeDrvState() {
    DrvStateAccessors a;
    a.getSoup = [](CDrvState* s) -> CBaseSoup* { return &Fake(s)->soup; };
    a.getKeyForest = [](CDrvState* s) -> OptionForest* { return &Fake(s)->forest; };
    a.getCurrentSettings = [](CDrvState* s) -> KVCache* { return &Fake(s)->current; };
    a.getOutputCodePage = [](CDrvState* s) -> UINT { return Fake(s)->codePage; };
    a.getPPDPath = [](CDrvState* s) -> const wchar_t* { return Fake(s)->ppdPath.c_str(); };
    SetDrvStateAccessors(&a);
}

FakeDrvState::~FakeDrvState() { SetDrvStateAccessors(nullptr); }

void FakeDrvState::AddPPXFlags(const wchar_t* keyword, const wchar_t* flags) {
    AddOption(L"*PPXFlags", keyword, L"", flags);
}

void FakeDrvState::SetKeyValueList(const wchar_t* keyword, const wchar_t* list) {
    const SoupSlotID key = Slot(keyword);
    forest.SetData(key, CKeyData(key, SoupSlotID(), Slot(list)));
}

void FakeDrvState::AddOption(const wchar_t* keyword, const wchar_t* option, const wchar_t* valueText,
                             const wchar_t* valueList) {
    const SoupSlotID key = Slot(keyword);
    const SoupSlotID opt = Slot(option);
    if (!forest.GetData(key)) forest.SetData(key, CKeyData(key));
    const CKeyOptSetting setting(key, opt);
    const SoupSlotID text = Slot(valueText);
    forest.AddLeaf(key, COptData(&setting, opt, text, valueList ? Slot(valueList) : text));
}

// ---------------------------------------------------------------------------------

namespace {
template <class Char, class Call>
std::basic_string<Char> Emit(Call call) {
    const int n = call(nullptr, 0u);
    if (n <= 0) return {};
    std::vector<Char> buffer(static_cast<size_t>(n) + 8, static_cast<Char>('#'));
    const int written = call(buffer.data(), static_cast<unsigned>(n));
    EXPECT_GT(written, 0);
    EXPECT_LE(written, n);
    if (written <= 0) return {};
    // Nothing past the given size.
    EXPECT_EQ(static_cast<Char>('#'), buffer[static_cast<size_t>(n)]);
    return std::basic_string<Char>(buffer.data());
}
}  // namespace

std::string SetupA(const CKeyBaseSetting& key, CDrvState* state) {
    return Emit<char>([&](char* b, unsigned n) { return key.GetSetupCodeA(state, b, n); });
}
std::wstring SetupW(const CKeyBaseSetting& key, CDrvState* state) {
    return Emit<wchar_t>([&](wchar_t* b, unsigned n) { return key.GetSetupCodeW(state, b, n); });
}
std::string CommentA(const CKeyBaseSetting& key, CDrvState* state) {
    return Emit<char>([&](char* b, unsigned n) { return key.GetCommentTextA(state, b, n); });
}
std::wstring CommentW(const CKeyBaseSetting& key, CDrvState* state) {
    return Emit<wchar_t>([&](wchar_t* b, unsigned n) { return key.GetCommentTextW(state, b, n); });
}

void WritePostScriptJob(const std::string& name, const std::string& setup, bool landscape, bool callWatermark) {
    const std::string dir = std::string(TOLVA_BINARY_DIR) + "\\ps";
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string file = name;
    for (char& ch : file)
        if (ch == ' ' || ch == ',') ch = '-';
    std::ofstream out(dir + "\\" + file + ".ps", std::ios::binary);
    ASSERT_TRUE(out.good()) << name;
    out << "%!PS\r\n"
        << "globaldict /VYR_LandscapeDoc " << (landscape ? "true" : "false") << " put\r\n"
        << setup;
    if (callWatermark) out << "userdict /VYRWaterMark get exec\r\n";
    out << "showpage\r\n";
}

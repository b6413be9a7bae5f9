// Test support for the setting keys: compiled records built byte by byte, a driver
// state the keys reach through the registered accessors, and PostScript files for
// the interpreter check that runs after the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/CompiledKeyRecord.h"
#include "settings/DrvStateAccess.h"
#include "settings/KVCache.h"
#include "settings/KeyForest.h"
#include "settings/KeyOptSetting.h"
#include "settings/StrSoup.h"

// Little-endian record bytes.
class RecordBytes {
public:
    RecordBytes& I16(int v);
    RecordBytes& I32(int32_t v);
    RecordBytes& F64(double v);
    // Pads with zero bytes up to size.
    RecordBytes& PadTo(size_t size);
    const std::vector<uint8_t>& Bytes() const { return bytes; }
    CompiledKeyRecord Record() const { return CompiledKeyRecord{bytes.data(), bytes.size()}; }

private:
    std::vector<uint8_t> bytes;
};

struct OptionEntry {
    int option, display, valueText, valueList;
};
RecordBytes OptionRecord(int key, int defaultOption, const std::vector<OptionEntry>& entries,
                         const std::vector<int>& ids);
// Types 1 and 2; 50 bytes.
RecordBytes RangeRecord(int type, int key, int templ, double minimum, double maximum, double initial, int32_t extra);
// 18 bytes.
RecordBytes NoteRecord(int key, int templ, int comment, int defaultText, int maxLength);
RecordBytes SoupRecord(int key, int bufferSize);
RecordBytes TableRecord(int key, int rows, int columns);

// A driver state: soup, option forest, current settings, output code page, PPD path.
struct FakeDrvState {
    CStrSoup soup;
    OptionForest forest;
    KVCache current;
    UINT codePage = 1252;
    std::wstring ppdPath = L"C:\\nowhere\\tolva.ppd";

    FakeDrvState();
    ~FakeDrvState();
    CDrvState* State() { return reinterpret_cast<CDrvState*>(this); }
    SoupSlotID Slot(const wchar_t* text) { return soup.FindOrAdd(text); }
    SoupSlotID Prop(int property) { return soup.GetPropertySlot(property, true); }
    // "*PPXFlags" option `keyword` with the value list `flags` ("NoMin", "NoSetupTxt|UTF8"...).
    void AddPPXFlags(const wchar_t* keyword, const wchar_t* flags);
    // The key's own value list.
    void SetKeyValueList(const wchar_t* keyword, const wchar_t* list);
    // An option of a key with its value text.
    void AddOption(const wchar_t* keyword, const wchar_t* option, const wchar_t* valueText,
                   const wchar_t* valueList = nullptr);
};

// The key's narrow and wide setup code (or comment) through size query and fill;
// checks that both widths agree for ASCII text. Empty when the key emits nothing.
std::string SetupA(const CKeyBaseSetting& key, CDrvState* state);
std::wstring SetupW(const CKeyBaseSetting& key, CDrvState* state);
std::string CommentA(const CKeyBaseSetting& key, CDrvState* state);
std::wstring CommentW(const CKeyBaseSetting& key, CDrvState* state);

// Writes a job file for the interpreter check: "%!PS", the landscape flag, the setup
// code, optionally the watermark call, showpage. name becomes <name>.ps in the
// test's build folder (ps\); files named inject-* must not print "INJECTED".
void WritePostScriptJob(const std::string& name, const std::string& setup, bool landscape, bool callWatermark);

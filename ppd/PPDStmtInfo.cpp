// PPD keyword table and language table.
#include "ppd/PPDStmtInfo.h"

#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "foundation/Syncher.h"

namespace PPDParser {

namespace {

// name, id, class, value type, takes option, group. Sorted in place on first use.
PPDKeywordRow g_keywords[kKeywordSlots] = {
    {L"*PPD-Adobe", 1, 2, 3, 0, 0},
    {L"*OpenUI", 2, 1, 2, 1, 5},
    {L"*CloseUI", 3, 1, 2, 0, 0},
    {L"*OpenGroup", 4, 1, 2, 0, 0},
    {L"*CloseGroup", 5, 1, 2, 0, 0},
    {L"*OpenSubGroup", 6, 1, 2, 0, 0},
    {L"*CloseSubGroup", 7, 1, 2, 0, 0},
    {L"*OrderDependency", 8, 1, 2, 0, 0},
    {L"*NonUIOrderDependency", 9, 1, 2, 0, 0},
    {L"*QueryOrderDependency", 10, 1, 2, 0, 0},
    {L"*UIConstraints", 11, 1, 2, 0, 0},
    {L"*NonUIConstraints", 12, 1, 2, 0, 0},
    {L"*Include", 13, 1, 3, 0, 0},
    {L"*End", 14, 1, 1, 0, 0},
    {L"*FileVersion", 15, 2, 3, 0, 0},
    {L"*FormatVersion", 16, 2, 3, 0, 0},
    {L"*LanguageEncoding", 17, 2, 2, 0, 0},
    {L"*LanguageVersion", 18, 2, 2, 0, 0},
    {L"*Manufacturer", 19, 2, 3, 0, 0},
    {L"*ModelName", 20, 2, 3, 0, 0},
    {L"*NickName", 21, 2, 3, 0, 0},
    {L"*PCFileName", 22, 2, 3, 0, 0},
    {L"*Product", 23, 2, 3, 0, 0},
    {L"*PSVersion", 24, 2, 3, 0, 0},
    {L"*ShortNickName", 25, 2, 3, 0, 0},
    {L"*ColorDevice", 26, 0, 2, 0, 0},
    {L"*DefaultColorSpace", 27, 0, 2, 0, 0},
    {L"*Extensions", 28, 0, 2, 0, 0},
    {L"*FaxSupport", 29, 0, 2, 0, 0},
    {L"*FileSystem", 30, 0, 2, 0, 0},
    {L"*?FileSystem", 31, 0, 3, 0, 0},
    {L"*LanguageLevel", 32, 0, 3, 0, 0},
    {L"*Throughput", 33, 0, 3, 0, 0},
    {L"*TTRasterizer", 34, 0, 2, 0, 0},
    {L"*?TTRasterizer", 35, 0, 3, 0, 0},
    {L"*1284Modes", 36, 0, 2, 0, 0},
    {L"*1284DeviceID", 37, 0, 3, 0, 0},
    {L"*PatchFile", 38, 0, 3, 0, 0},
    {L"*?PatchFile", 39, 0, 3, 0, 0},
    {L"*JobPatchFile", 40, 0, 5, 1, 0},
    {L"*FreeVM", 41, 0, 3, 0, 0},
    {L"*VMOption", 42, 0, 5, 1, 0},
    {L"*InstalledMemory", 43, 0, 5, 1, 2},
    {L"*DefaultInstalledMemory", 44, 0, 2, 0, 2},
    {L"*?InstalledMemory", 45, 0, 3, 0, 2},
    {L"*Reset", 46, 0, 3, 0, 0},
    {L"*Password", 47, 0, 3, 0, 0},
    {L"*ExitJamRecovery", 48, 0, 5, 1, 0},
    {L"*DefaultExitJamRecovery", 49, 0, 2, 0, 0},
    {L"*?ExitJamRecovery", 50, 0, 3, 0, 0},
    {L"*ExitServer", 51, 0, 3, 0, 0},
    {L"*SuggestedJobTimeout", 52, 0, 3, 0, 0},
    {L"*SuggestedManualFeedTimeout", 53, 0, 3, 0, 0},
    {L"*SuggestedWaitTimeout", 54, 0, 3, 0, 0},
    {L"*PrintPSErrors", 55, 0, 2, 0, 0},
    {L"*DeviceAdjustMatrix", 56, 0, 3, 0, 0},
    {L"*Protocols", 57, 0, 2, 0, 0},
    {L"*Emulators", 58, 0, 2, 0, 0},
    {L"*StartEmulator_emulatorOption", 59, 0, 2, 0, 0},
    {L"*StopEmulator_emulatorOption", 60, 0, 2, 0, 0},
    {L"*JCLBegin", 61, 0, 3, 0, 0},
    {L"*JCLToPSInterpreter", 62, 0, 3, 0, 0},
    {L"*JCLEnd", 63, 0, 3, 0, 0},
    {L"*JCLOpenUI", 64, 0, 2, 0, 0},
    {L"*JCLCloseUI", 65, 0, 2, 0, 0},
    {L"*JCLFrameBufferSize", 66, 0, 5, 1, 0},
    {L"*DefaultJCLFrameBufferSize", 67, 0, 2, 0, 0},
    {L"*?JCLFrameBufferSize", 68, 0, 3, 0, 0},
    {L"*JCLResolution", 69, 0, 3, 0, 0},
    {L"*DefaultJCLResolution", 70, 0, 2, 0, 0},
    {L"*?JCLResolution", 71, 0, 3, 0, 0},
    {L"*DefaultResolution", 72, 0, 2, 0, 5},
    {L"*Resolution", 73, 0, 5, 1, 5},
    {L"*SetResolution", 74, 0, 5, 1, 0},
    {L"*?Resolution", 75, 0, 3, 0, 5},
    {L"*Smoothing", 76, 0, 5, 1, 0},
    {L"*DefaultSmoothing", 77, 0, 2, 0, 0},
    {L"*?Smoothing", 78, 0, 3, 0, 0},
    {L"*BitsPerPixel", 79, 0, 5, 1, 0},
    {L"*DefaultBitsPerPixel", 80, 0, 2, 0, 0},
    {L"*?BitsPerPixel", 81, 0, 3, 0, 0},
    {L"*AccurateScreensSupport", 82, 0, 2, 0, 0},
    {L"*ContoneOnly", 83, 0, 2, 0, 0},
    {L"*DefaultHalftoneType", 84, 0, 2, 0, 0},
    {L"*ScreenAngle", 85, 0, 3, 0, 0},
    {L"*ScreenFreq", 86, 0, 3, 0, 0},
    {L"*DefaultScreenProc", 87, 0, 2, 0, 0},
    {L"*ResScreenFreq", 88, 0, 5, 1, 0},
    {L"*ResScreenAngle", 89, 0, 5, 1, 0},
    {L"*ScreenProc", 90, 0, 5, 1, 0},
    {L"*Transfer", 91, 0, 5, 1, 0},
    {L"*DefaultTransfer", 92, 0, 2, 0, 0},
    {L"*BlackSubstitution", 93, 0, 5, 1, 0},
    {L"*DefaultBlackSubstitution", 94, 0, 2, 0, 0},
    {L"*?BlackSubstitution", 95, 0, 3, 0, 0},
    {L"*ColorModel", 96, 0, 5, 1, 0},
    {L"*DefaultColorModel", 97, 0, 2, 0, 0},
    {L"*?ColorModel", 98, 0, 3, 0, 0},
    {L"*ColorRenderDict", 99, 0, 5, 1, 0},
    {L"*RenderingIntent", 100, 0, 2, 0, 0},
    {L"*PageDeviceName", 101, 0, 2, 0, 0},
    {L"*HalftoneName", 102, 0, 2, 0, 0},
    {L"*InputSlot", 103, 0, 5, 1, 5},
    {L"*DefaultInputSlot", 104, 0, 2, 0, 5},
    {L"*?InputSlot", 105, 0, 3, 0, 5},
    {L"*ManualFeed", 106, 0, 5, 1, 0},
    {L"*DefaultManualFeed", 107, 0, 2, 0, 0},
    {L"*?ManualFeed", 108, 0, 3, 0, 0},
    {L"*PageSize", 109, 2, 5, 1, 0},
    {L"*DefaultPageSize", 110, 2, 2, 0, 0},
    {L"*?PageSize", 111, 0, 3, 0, 0},
    {L"*PageRegion", 112, 2, 5, 1, 0},
    {L"*DefaultPageRegion", 113, 2, 2, 0, 0},
    {L"*MediaType", 114, 0, 5, 1, 5},
    {L"*DefaultMediaType", 115, 0, 2, 0, 5},
    {L"*?MediaType", 116, 0, 3, 0, 5},
    {L"*MediaColor", 117, 0, 5, 1, 0},
    {L"*DefaultMediaColor", 118, 0, 2, 0, 0},
    {L"*?MediaColor", 119, 0, 3, 0, 0},
    {L"*MediaWeight", 120, 0, 5, 1, 0},
    {L"*DefaultMediaWeight", 121, 0, 2, 0, 0},
    {L"*?MediaWeight", 122, 0, 3, 0, 0},
    {L"*ImageableArea", 123, 2, 5, 1, 0},
    {L"*DefaultImageableArea", 124, 2, 2, 0, 0},
    {L"*?ImageableArea", 125, 0, 3, 0, 0},
    {L"*PaperDimension", 126, 2, 5, 1, 0},
    {L"*DefaultPaperDimension", 127, 2, 2, 0, 0},
    {L"*RequiresPageRegion", 128, 0, 2, 1, 0},
    {L"*LandscapeOrientation", 129, 0, 2, 0, 0},
    {L"*CustomPageSize", 130, 0, 5, 1, 0},
    {L"*ParamCustomPageSize", 131, 0, 2, 1, 0},
    {L"*MaxMediaWidth", 132, 0, 3, 0, 0},
    {L"*MaxMediaHeight", 133, 0, 3, 0, 0},
    {L"*?CurrentMediaWidth", 134, 0, 3, 0, 0},
    {L"*?CurrentMediaHeight", 135, 0, 3, 0, 0},
    {L"*CenterRegistered", 136, 0, 2, 1, 0},
    {L"*LeadingEdge", 137, 0, 5, 1, 5},
    {L"*DefaultLeadingEdge", 138, 0, 2, 0, 5},
    {L"*HWMargins", 139, 0, 2, 0, 0},
    {L"*UseHWMargins", 140, 0, 5, 1, 5},
    {L"*DefaultUseHWMargins", 141, 0, 2, 0, 5},
    {L"*OutputBin", 142, 0, 5, 1, 5},
    {L"*DefaultOutputBin", 143, 0, 2, 0, 5},
    {L"*?OutputBin", 144, 0, 3, 0, 5},
    {L"*OutputOrder", 145, 0, 5, 1, 0},
    {L"*DefaultOutputOrder", 146, 0, 2, 0, 0},
    {L"*?OutputOrder", 147, 0, 3, 0, 0},
    {L"*PageStackOrder", 148, 0, 2, 1, 0},
    {L"*TraySwitch", 149, 0, 5, 1, 0},
    {L"*DefaultTraySwitch", 150, 0, 2, 0, 0},
    {L"*?TraySwitch", 151, 0, 3, 0, 0},
    {L"*Signature", 152, 0, 5, 1, 0},
    {L"*DefaultSignature", 153, 0, 2, 0, 0},
    {L"*?Signature", 154, 0, 3, 0, 0},
    {L"*Duplex", 155, 0, 5, 1, 5},
    {L"*DefaultDuplex", 156, 0, 2, 0, 5},
    {L"*?Duplex", 157, 0, 3, 0, 5},
    {L"*OutputMode", 158, 0, 5, 1, 0},
    {L"*DefaultOutputMode", 159, 0, 2, 0, 0},
    {L"*?OutputMode", 160, 0, 3, 0, 0},
    {L"*Collate", 161, 0, 5, 1, 5},
    {L"*DefaultCollate", 162, 0, 2, 0, 5},
    {L"*?Collate", 163, 0, 3, 0, 5},
    {L"*FoldType", 164, 0, 5, 1, 0},
    {L"*DefaultFoldType", 165, 0, 2, 0, 0},
    {L"*?FoldType", 166, 0, 3, 0, 0},
    {L"*FoldWhen", 167, 0, 5, 1, 0},
    {L"*DefaultFoldWhen", 168, 0, 2, 0, 0},
    {L"*?FoldWhen", 169, 0, 3, 0, 0},
    {L"*Sorter", 170, 0, 5, 1, 0},
    {L"*DefaultSorter", 171, 0, 2, 0, 0},
    {L"*?Sorter", 172, 0, 3, 0, 0},
    {L"*StapleLocation", 173, 0, 5, 1, 0},
    {L"*DefaultStapleLocation", 174, 0, 2, 0, 0},
    {L"*?StapleLocation", 175, 0, 3, 0, 0},
    {L"*StapleX", 176, 0, 5, 1, 0},
    {L"*DefaultStapleX", 177, 0, 2, 0, 0},
    {L"*?StapleX", 178, 0, 3, 0, 0},
    {L"*StapleY", 179, 0, 5, 1, 0},
    {L"*DefaultStapleY", 180, 0, 2, 0, 0},
    {L"*?StapleY", 181, 0, 3, 0, 0},
    {L"*StapleWhen", 182, 0, 5, 1, 0},
    {L"*DefaultStapleWhen", 183, 0, 2, 0, 0},
    {L"*?StapleWhen", 184, 0, 3, 0, 0},
    {L"*StapleOrientation", 185, 0, 5, 1, 0},
    {L"*DefaultStapleOrientation", 186, 0, 2, 0, 0},
    {L"*?StapleOrientation", 187, 0, 3, 0, 0},
    {L"*BindEdge", 188, 0, 5, 1, 0},
    {L"*DefaultBindEdge", 189, 0, 2, 0, 0},
    {L"*?BindEdge", 190, 0, 3, 0, 0},
    {L"*BindType", 191, 0, 5, 1, 0},
    {L"*DefaultBindType", 192, 0, 2, 0, 0},
    {L"*?BindType", 193, 0, 3, 0, 0},
    {L"*BindColor", 194, 0, 5, 1, 0},
    {L"*DefaultBindColor", 195, 0, 2, 0, 0},
    {L"*?BindColor", 196, 0, 3, 0, 0},
    {L"*BindWhen", 197, 0, 5, 1, 0},
    {L"*DefaultBindWhen", 198, 0, 2, 0, 0},
    {L"*?BindWhen", 199, 0, 3, 0, 0},
    {L"*Booklet", 200, 0, 5, 1, 0},
    {L"*DefaultBooklet", 201, 0, 2, 0, 0},
    {L"*?Booklet", 202, 0, 3, 0, 0},
    {L"*Slipsheet", 203, 0, 5, 1, 0},
    {L"*DefaultSlipsheet", 204, 0, 2, 0, 0},
    {L"*?Slipsheet", 205, 0, 3, 0, 0},
    {L"*InsertSheet", 206, 0, 5, 1, 0},
    {L"*DefaultInsertSheet", 207, 0, 2, 0, 0},
    {L"*?InsertSheet", 208, 0, 3, 0, 0},
    {L"*Jog", 209, 0, 5, 1, 0},
    {L"*DefaultJog", 210, 0, 2, 0, 0},
    {L"*?Jog", 211, 0, 3, 0, 0},
    {L"*MirrorPrint", 212, 0, 5, 1, 0},
    {L"*DefaultMirrorPrint", 213, 0, 2, 0, 0},
    {L"*?MirrorPrint", 214, 0, 3, 0, 0},
    {L"*NegativePrint", 215, 0, 5, 1, 0},
    {L"*DefaultNegativePrint", 216, 0, 2, 0, 0},
    {L"*?NegativePrint", 217, 0, 3, 0, 0},
    {L"*AdvanceMedia", 218, 0, 5, 1, 0},
    {L"*DefaultAdvanceMedia", 219, 0, 2, 0, 0},
    {L"*?AdvanceMedia", 220, 0, 3, 0, 0},
    {L"*CutMedia", 221, 0, 5, 1, 0},
    {L"*DefaultCutMedia", 222, 0, 2, 0, 0},
    {L"*?CutMedia", 223, 0, 3, 0, 0},
    {L"*ReferencePunch", 224, 0, 2, 1, 0},
    {L"*FDirSize", 225, 0, 2, 0, 0},
    {L"*FCacheSize", 226, 0, 2, 1, 0},
    {L"*Font", 227, 0, 2, 1, 0},
    {L"*DefaultFont", 228, 0, 2, 0, 0},
    {L"*?FontList", 229, 0, 3, 0, 0},
    {L"*?FontQuery", 230, 0, 3, 0, 0},
    {L"*PrinterError", 231, 0, 3, 0, 0},
    {L"*Status", 232, 0, 3, 0, 0},
    {L"*Source", 233, 0, 3, 0, 0},
    {L"*Message", 234, 0, 3, 0, 0},
    {L"*DefaultColorSep", 235, 0, 2, 0, 0},
    {L"*ColorSepScreenFreq", 236, 0, 5, 1, 0},
    {L"*ColorSepScreenAngle", 237, 0, 5, 1, 0},
    {L"*ColorSepScreenProc", 238, 0, 5, 1, 0},
    {L"*ColorSepTransfer", 239, 0, 5, 1, 0},
    {L"*CustomCMYK", 240, 0, 5, 1, 0},
    {L"*InkName", 241, 0, 2, 0, 0},
    {L"*Separations", 242, 0, 5, 1, 0},
    {L"*DefaultSeparations", 243, 0, 2, 0, 0},
    {L"*?Separations", 244, 0, 3, 0, 0},
    {L"*SymbolLength", 245, 1, 2, 1, 0},
    {L"*SymbolValue", 246, 1, 5, 1, 0},
    {L"*SymbolEnd", 247, 1, 2, 0, 0},
    {L"*VYRKey", 248, 1, 6, 0, 0},
    {L"*VYRKeyAttribute", 249, 1, 6, 0, 0},
    {L"*VYRValue", 250, 1, 6, 0, 0},
    {L"*VYRLocal", 251, 1, 6, 0, 0},
    {L"*VYREScope", 252, 1, 6, 0, 0},
    {L"*VYRFlags", 253, 1, 6, 0, 7},
    {L"*QVShortcut", 257, 1, 6, 0, 0},
    {L"*VYRGroup", 254, 1, 6, 0, 7},
    {L"*VYRRange", 258, 1, 7, 1, 6},
    {L"*VYRUnitRange", 259, 1, 7, 1, 6},
    {L"*VYRFloatRange", 260, 1, 7, 1, 6},
    {L"*VYRJobNote", 261, 1, 2, 1, 6},
    {L"*Range", 258, 1, 7, 1, 0},
    {L"*UnitRange", 259, 1, 7, 1, 0},
    {L"*FloatRange", 260, 1, 7, 1, 0},
    {L"*JobNote", 261, 1, 2, 1, 0},
    {L"*StringSoup", 266, 1, 2, 1, 0},
    {L"*MixedMedia", 267, 1, 2, 1, 0},
    {nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, 0, 0, 0, 0},
    {nullptr, 0, 0, 0, 0, 0},
};

const PPDLanguageRow kLanguages[] = {
    {L"en", L"English", 0x09, 1},      {L"fr", L"French", 0x0C, 1},     {L"it", L"Italian", 0x10, 1},
    {L"de", L"German", 0x07, 1},       {L"es", L"Spanish", 0x0A, 1},    {L"pt_BR", L"Portuguese", 0x16, 1},
    {L"nl", L"Dutch", 0x13, 1},        {L"ja", L"Japanese", 0x11, 1},   {L"zh_CN", L"Chinese", 0x04, 2},
    {L"zh_hans", L"SimpChinese", 0x04, 2}, {L"zh_TW", L"TradChinese", 0x04, 1}, {L"da", L"Danish", 0x06, 1},
    {L"fi", L"Finnish", 0x0B, 1},      {L"no", L"Norwegian", 0x14, 1},  {L"sv", L"Swedish", 0x1D, 1},
    {L"ru", L"Russian", 0x19, 1},      {L"tr", L"Turkish", 0x1F, 1},    {L"pl", L"Polish", 0x15, 1},
    {L"ko_KR", L"Korean", 0x12, 1},    {L"cs_CZ", L"Czech", 0x05, 1},
};

// Names ignoring case, A-Z folded to a-z as _wcsicmp does in the C locale (the
// names of the table are ASCII); a missing name sorts after every name. Much
// cheaper than the C runtime's locale-aware comparison, and every statement of
// a PPD is looked up.
int CompareNames(const wchar_t* a, const wchar_t* b) {
    if (!a) return b ? 1 : 0;
    if (!b) return -1;
    for (;; ++a, ++b) {
        wchar_t ca = *a, cb = *b;
        if (ca >= L'A' && ca <= L'Z') ca = static_cast<wchar_t>(ca + 32);
        if (cb >= L'A' && cb <= L'Z') cb = static_cast<wchar_t>(cb + 32);
        if (ca != cb || !ca) return static_cast<int>(ca) - static_cast<int>(cb);
    }
}

int CompareRows(const void* a, const void* b) {
    return CompareNames(static_cast<const PPDKeywordRow*>(a)->name, static_cast<const PPDKeywordRow*>(b)->name);
}

// Hash of a name with A-Z folded, so that it agrees with CompareNames.
uint32_t FoldedHash(const wchar_t* name) {
    uint32_t h = kKeywordHashSeed;
    for (; *name; ++name) h = FoldKeywordHash(h, *name);
    return h;
}

constexpr uint32_t kHashSlots = 1024;  // a power of two, about four times the rows

// The slot of a folded hash: the per-character steps mix little, so mix once here.
uint32_t HashSlot(uint32_t hash) {
    hash *= 0x9E3779B1u;
    return (hash ^ (hash >> 16)) & (kHashSlots - 1);
}

// Sorting the table is the one-time initialisation; a second thread that
// makes its first look-up meanwhile waits for it. Look-ups go through a hash
// index over the sorted rows (same answers as a binary search, fewer compares).
struct SortedKeywords {
    SortedKeywords() {
        qsort(g_keywords, kKeywordSlots, sizeof(PPDKeywordRow), CompareRows);
        for (int16_t& slot : index) slot = -1;
        for (int i = 0; i < kKeywordSlots; ++i) {
            if (!g_keywords[i].name) continue;
            uint32_t h = HashSlot(FoldedHash(g_keywords[i].name));
            while (index[h] >= 0) h = (h + 1) & (kHashSlots - 1);
            index[h] = static_cast<int16_t>(i);
        }
    }
    int16_t index[kHashSlots];
};

const SortedKeywords& EnsureSorted() {
    return GuardedStatic<SortedKeywords>::Get([] { return SortedKeywords(); });
}

}  // namespace

const PPDKeywordRow* CPPDStmtInfo::FindKeyword(const wchar_t* keyword) {
    return keyword ? FindKeyword(keyword, FoldedHash(keyword)) : nullptr;
}

const PPDKeywordRow* CPPDStmtInfo::FindKeyword(const wchar_t* keyword, uint32_t hash) {
    if (!keyword) return nullptr;
    const SortedKeywords& sorted = EnsureSorted();
    for (uint32_t h = HashSlot(hash);; h = (h + 1) & (kHashSlots - 1)) {
        const int row = sorted.index[h];
        if (row < 0) return nullptr;
        if (CompareNames(keyword, g_keywords[row].name) == 0) return &g_keywords[row];
    }
}

const PPDKeywordRow* CPPDStmtInfo::Rows(int* count) {
    EnsureSorted();
    if (count) *count = kKeywordSlots;
    return g_keywords;
}

const PPDLanguageRow* LanguageRows(int* count) {
    if (count) *count = static_cast<int>(sizeof(kLanguages) / sizeof(kLanguages[0]));
    return kLanguages;
}

}  // namespace PPDParser

// What the job-settings library and the driver exchange: key/value arrays made from and
// applied to the settings, the page keys under the library's own names, the watermark
// list and the two pictures.
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <string_view>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "foundation/StrUtil.h"
#include "settings/KeyNoteSpecials.h"
#include "settings/KeySoupSetting.h"
#include "settings/KeyUtility.h"
#include "sheets/MemoryDC.h"
#include "settings/PropertyNames.h"
#include "storage/OEMBitmapList.h"
#include "storage/OEMManager.h"
#include "storage/Store.h"
#include "uiplugin/TQInterface.h"

namespace {

// Bound on the items of an array the library hands back.
constexpr uint64_t kMaxLibraryItems = 1u << 16;
constexpr int kPictureWidth = 260;
constexpr int kPictureHeight = 160;

wchar_t* NewText(const wchar_t* text, size_t length) {
    wchar_t* copy = new (std::nothrow) wchar_t[length + 1];
    if (!copy) return nullptr;
    wmemcpy(copy, text, length);
    copy[length] = L'\0';
    return copy;
}

// The setting of keyword: in settings, else in source; null when neither holds it.
CKeySetting* Lookup(CBaseSoup* soup, const KVCache* settings, const KVCache* source, const wchar_t* keyword) {
    if (!soup) return nullptr;
    SoupSlotID slot = soup->Find(keyword);
    if (slot.IsInvalid()) return nullptr;
    CKeySetting* setting = settings ? settings->Find(slot) : nullptr;
    if (!setting && source) setting = source->Find(slot);
    return setting;
}

// Sets keyword (found in target or source) to text in target; false when no key took it.
bool SetText(KVCache* target, CBaseSoup* soup, OptionForest* forest, const KVCache* source, const wchar_t* keyword,
             const wchar_t* text) {
    CKeySetting* found = Lookup(soup, target, source, keyword);
    if (!found || !text) return false;
    CKeySetting* clone = found->Clone();
    if (!clone) return false;
    bool done = clone->SetFromText(soup, forest, keyword, text) == 1 && target->Set(clone) == 1;
    delete clone;
    return done;
}

// SetText for the driver's own page keys. The sheets' forest leaves out the installable and
// "*%PS_"/"*%DM_" keys, so it cannot vouch for their options: a key it does not know takes the
// text's slot as its value directly; a key it knows still has to list the option.
bool SetDriverKeyText(KVCache* target, CBaseSoup* soup, OptionForest* forest, const KVCache* source,
                      const wchar_t* keyword, const wchar_t* text) {
    if (SetText(target, soup, forest, source, keyword, text)) return true;
    CKeySetting* found = Lookup(soup, target, source, keyword);
    if (!found || !forest || !text || !*text || forest->GetLeaves(found->GetKeyId())) return false;
    const SoupSlotID value = soup->FindOrAdd(text);
    if (value.IsInvalid()) return false;
    CKeySetting* clone = found->Clone();
    if (!clone) return false;
    clone->SetValueId(value);
    bool done = target->Set(clone) == 1;
    delete clone;
    return done;
}

// Clone of the setting of prefix + keyword in settings, or null. name is scratch room.
CKeySetting* CloneOf(CBaseSoup* soup, const KVCache* settings, const wchar_t* prefix, const wchar_t* keyword,
                     std::wstring& name) {
    name.assign(prefix);
    name.append(keyword);
    SoupSlotID slot = soup->Find(name.c_str());
    CKeySetting* found = slot.IsValid() ? settings->Find(slot) : nullptr;
    return found ? found->Clone() : nullptr;
}

double WatermarkNumber(const wchar_t* text) { return wcstod(text, nullptr); }

// A 24-bit off-screen picture filled with the button face.
std::unique_ptr<CMemoryDC> ButtonFacePicture(int width, int height) {
    auto picture = std::make_unique<CMemoryDC>(24, SIZE{width, height});
    if (!picture->GetDC() || !picture->Fill(GetSysColorBrush(COLOR_BTNFACE))) return nullptr;
    return picture;
}

// The OEM module of a PPD for the life of a scope.
class OEMHold {
public:
    explicit OEMHold(const wchar_t* ppdPath) : m_path(ppdPath && *ppdPath ? MakeOEMModulePath(ppdPath) : nullptr) {
        m_oem = m_path ? AcquireOEMInterface(nullptr, m_path) : nullptr;
    }
    ~OEMHold() {
        if (m_oem) ReleaseOEMInterface(nullptr, m_path, m_oem);
        delete[] m_path;
    }
    OEMHold(const OEMHold&) = delete;
    OEMHold& operator=(const OEMHold&) = delete;
    COEMInterface* Get() const { return m_oem; }

private:
    wchar_t* m_path;
    COEMInterface* m_oem = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Arrays.

TQKeyValueArray* AllocKeyValueArray(size_t count) {
    if (count > (SIZE_MAX - sizeof(TQKeyValueArray)) / sizeof(TQKeyValueItem)) return nullptr;
    size_t bytes = sizeof(TQKeyValueArray) + count * sizeof(TQKeyValueItem);
    void* block = ::operator new(bytes, std::nothrow);
    if (!block) return nullptr;
    memset(block, 0, bytes);
    TQKeyValueArray* array = static_cast<TQKeyValueArray*>(block);
    array->count = count;
    array->items = TQArrayItems(array);
    return array;
}

namespace {
void DeleteText(wchar_t* text) { delete[] text; }
std::atomic<KeyValueTextFreeFn> g_freeText{&DeleteText};
}  // namespace

KeyValueTextFreeFn SetKeyValueTextFreeSeam(KeyValueTextFreeFn fn) noexcept {
    return g_freeText.exchange(fn ? fn : &DeleteText);
}

void FreeKeyValueArray(TQKeyValueArray* array, bool wipe) {
    if (!array) return;
    TQKeyValueItem* items = TQArrayItems(array);
    const KeyValueTextFreeFn freeText = g_freeText.load();
    for (uint64_t i = 0; i < array->count; ++i) {
        for (wchar_t* text : {items[i].keyword, items[i].value}) {
            if (!text) continue;
            if (wipe) WipeMemory(text, wcslen(text) * sizeof(wchar_t));
            freeText(text);
        }
    }
    ::operator delete(array);
}

void JoinCommaList(wchar_t* text) {
    for (wchar_t* p = text; p && *p; ++p)
        if (*p == L',') *p = L'.';
}

bool IsTrustedKeyValueArray(const TQKeyValueArray* array) {
    if (!array || array->count > kMaxLibraryItems) return false;
    // Every reader takes the items from right after the header: an array whose items lie
    // elsewhere would be read past its own allocation.
    return array->count == 0 || array->items == TQArrayItems(const_cast<TQKeyValueArray*>(array));
}

TQKeyValueArray* TQInterface::SplitKeyValueTexts(const wchar_t* list, size_t length) {
    if (!list) return nullptr;
    // Pairs as (keyword, keyword length, value, value length); a text without its NUL
    // inside the list ends it.
    struct Pair {
        const wchar_t* keyword;
        size_t keywordLength;
        const wchar_t* value;
        size_t valueLength;
    };
    std::vector<Pair> pairs;
    size_t at = 0;
    while (at < length) {
        const wchar_t* keyword = list + at;
        size_t keywordLength = wcsnlen(keyword, length - at);
        if (keywordLength == 0 || at + keywordLength >= length) break;
        size_t valueAt = at + keywordLength + 1;
        if (valueAt >= length) break;
        const wchar_t* value = list + valueAt;
        size_t valueLength = wcsnlen(value, length - valueAt);
        if (valueAt + valueLength >= length) break;
        size_t skip = keyword[0] == L'*' ? 1 : 0;
        if (skip && (keyword[1] == L'~' || keyword[1] == L'*')) skip = 2;
        if (skip < keywordLength) pairs.push_back({keyword + skip, keywordLength - skip, value, valueLength});
        at = valueAt + valueLength + 1;
    }
    TQKeyValueArray* array = AllocKeyValueArray(pairs.size());
    if (!array) return nullptr;
    TQKeyValueItem* items = TQArrayItems(array);
    for (size_t i = 0; i < pairs.size(); ++i) {
        items[i].keyword = NewText(pairs[i].keyword, pairs[i].keywordLength);
        items[i].value = NewText(pairs[i].value, pairs[i].valueLength);
        if (!items[i].keyword || !items[i].value) {
            FreeKeyValueArray(array);
            return nullptr;
        }
    }
    return array;
}

SecretWString TQInterface::ValueText(CBaseSoup* soup, const CKeySetting* setting) {
    if (!soup || !setting) return SecretWString();
    unsigned count = setting->GetText(soup, nullptr, 0);
    if (count == 0) return SecretWString();
    SecretWBuffer text(count + 2, L'\0');
    if (setting->GetText(soup, text.data(), count) == 0) return SecretWString();
    const wchar_t* value = text.data() + wcslen(text.data()) + 1;
    return SecretWString(value);
}

TQKeyValueArray* TQInterface::CollectKeyValues(CBaseSoup* soup, const KVCache* settings, const KVCache* installed,
                                               OptionForest* forest, BOOL first, BOOL second) {
    // Every text here may hold a user name or a password: the holders wipe what they free.
    SecretWString texts;
    if (soup && settings && installed && forest) {
        SoupSlotID flags = SoupPropertySlot(soup, 5078, true);
        SoupSlotID dynamic = (first && second) ? soup->FindOrAdd(L"Dynamic") : SoupSlotID();
        // The "*~" companions of the cache by the name after "*~".
        std::map<std::wstring, const CKeySetting*, std::less<>> companions;
        std::vector<std::pair<const CKeySetting*, const wchar_t*>> plain;
        plain.reserve(settings->GetCount());
        for (auto it = settings->Begin(); it != settings->End(); ++it) {
            const CKeySetting* setting = settings->GetAt(it);
            const wchar_t* keyword = setting ? soup->GetString(setting->GetKeyId()) : nullptr;
            if (!keyword) continue;
            if (keyword[0] == L'*' && keyword[1] == L'~') {
                if (first) companions.emplace(keyword + 2, setting);
            } else {
                plain.emplace_back(setting, keyword);
            }
        }
        SecretWBuffer buffer(512);
        // The exported text of a setting into buffer; its length up to the closing empty
        // keyword, 0 when it has none. *value points at its first value.
        auto exported = [&](const CKeySetting* setting, const wchar_t** value) -> size_t {
            unsigned count = setting->GetText(soup, buffer.data(), static_cast<unsigned>(buffer.size()));
            if (count == 0) return 0;
            if (count > buffer.size()) {
                buffer.assign(count + 2, L'\0');
                if (setting->GetText(soup, buffer.data(), static_cast<unsigned>(buffer.size())) == 0) return 0;
            }
            size_t length = 0;
            while (length < count && buffer[length] != L'\0') {
                length += wcslen(buffer.data() + length) + 1;
                if (length < count) length += wcslen(buffer.data() + length) + 1;
            }
            *value = buffer.data() + wcslen(buffer.data()) + 1;
            return std::min<size_t>(length, count);
        };
        texts.reserve(plain.size() * 32);
        for (auto& [setting, keyword] : plain) {
            const wchar_t* value = nullptr;
            if (!companions.empty() && keyword[0] == L'*') {
                auto found = companions.find(std::wstring_view(keyword + 1));
                if (found != companions.end()) {
                    size_t length = exported(found->second, &value);
                    if (length && *value) {
                        texts.append(buffer.data(), length);
                        continue;
                    }
                }
            }
            size_t length = exported(setting, &value);
            if (!length) continue;
            if (dynamic.IsValid() && flags.IsValid()) {
                COptData* option = forest->FindLeaf(flags, setting->GetKeyId());
                if (option && option->IsValueListed(soup, dynamic)) {
                    const CKeySetting* fallback = installed->Find(setting->GetKeyId());
                    if (fallback && ValueText(soup, fallback) == value) continue;
                }
            }
            texts.append(buffer.data(), length);
        }
    }
    texts.push_back(L'\0');
    return SplitKeyValueTexts(texts.c_str(), texts.size());
}

TQKeyValueArray* TQInterface::StoreToKeyValues(const CBaseStore* store) {
    if (!store) return AllocKeyValueArray(0);
    std::vector<std::pair<const wchar_t*, const wchar_t*>> entries;
    for (auto it = store->Begin(); it != store->End(); ++it) {
        const wchar_t* name = store->GetKey(it);
        const wchar_t* text = store->GetValue(it);
        if (name && *name && text && *text) entries.emplace_back(name, text);
    }
    TQKeyValueArray* array = AllocKeyValueArray(entries.size());
    if (!array) return nullptr;
    TQKeyValueItem* items = TQArrayItems(array);
    for (size_t i = 0; i < entries.size(); ++i) {
        items[i].keyword = StrDup(entries[i].first);
        items[i].value = StrDup(entries[i].second);
        if (!items[i].keyword || !items[i].value) {
            FreeKeyValueArray(array);
            return nullptr;
        }
    }
    return array;
}

BOOL TQInterface::ApplyKeyValues(const TQKeyValueArray* values, CBaseSoup* soup, OptionForest* forest,
                                 KVCache* target, const KVCache* settings) {
    if (!IsTrustedKeyValueArray(values) || !soup || !target || !settings) return FALSE;
    SoupSlotID mixedSlot = soup->Find(L"*QVMixedMedia");
    SoupSlotID pageSlot = soup->Find(L"*PageSize");
    CKeySetting* mixed = nullptr;
    if (mixedSlot.IsValid() && settings->Find(mixedSlot)) {
        mixed = settings->Find(mixedSlot)->Clone();
        if (auto* media = dynamic_cast<CKeyMMediaSetting*>(mixed)) media->ClearCells();
    }
    const TQKeyValueItem* items = TQArrayItems(const_cast<TQKeyValueArray*>(values));
    std::wstring plainName, scratch;
    for (uint64_t i = 0; i < values->count; ++i) {
        const wchar_t* keyword = items[i].keyword;
        const wchar_t* value = items[i].value;
        if (!keyword || !value || !*keyword) continue;  // the library's arrays are not trusted
        SoupSlotID plainSlot = soup->Find(keyword);
        CKeySetting* plain = nullptr;
        if (plainSlot.IsValid() && settings->Find(plainSlot)) {
            plainName = keyword;
            plain = settings->Find(plainSlot)->Clone();
        } else {
            plain = CloneOf(soup, settings, L"*", keyword, plainName);
        }
        CKeySetting* star = CloneOf(soup, settings, L"**", keyword, scratch);
        CKeySetting* tilde = CloneOf(soup, settings, L"*~", keyword, scratch);
        CKeySetting* chosen = nullptr;
        if (plain && plain->SetFromText(soup, forest, plainName.c_str(), value) == 1) chosen = plain;
        else if (star && star->SetFromText(soup, forest, keyword, value) == 1) chosen = star;
        if (chosen) {
            if (tilde && tilde->SetFromText(soup, forest, keyword, L"") == 1) target->Set(tilde);
            else if (tilde) target->Set(settings->Find(tilde->GetKeyId()));
            target->Set(chosen);
        } else if (tilde && tilde->SetFromText(soup, forest, keyword, value) == 1) {
            target->Set(tilde);
        } else if (plain && plain->GetKeyId() == pageSlot) {
            // The custom size is no option of the page-size list: set its value directly.
            if (plain->SetFromText(soup, forest, plainName.c_str(), L"CustomPageSize") != 1)
                plain->SetValueId(soup->FindOrAdd(L"CustomPageSize"));
            target->Set(plain);
        } else if (mixed) {
            mixed->SetFromText(soup, forest, keyword, value);
        }
        delete plain;
        delete star;
        delete tilde;
    }
    if (mixed) target->Set(mixed);
    delete mixed;
    return TRUE;
}

BOOL TQInterface::ApplyWatermarks(const TQKeyValueArray* watermarks, CBaseStore* store) {
    if (!IsTrustedKeyValueArray(watermarks) || !store) return FALSE;
    store->Clear();
    const TQKeyValueItem* items = TQArrayItems(const_cast<TQKeyValueArray*>(watermarks));
    for (uint64_t i = 0; i < watermarks->count; ++i)
        if (items[i].keyword && items[i].value) store->SetString(items[i].keyword, items[i].value);
    store->SetString(L"WMInitialized", L"");
    return TRUE;
}

// ---------------------------------------------------------------------------------------
// Page keys.

BOOL TQInterface::ExportPageKeys(KVCache* settings, CBaseSoup* soup, OptionForest* forest, const KVCache* source) {
    if (!settings || !soup) return FALSE;
    if (ValueText(soup, Lookup(soup, settings, source, L"*PageSize")) == L"CustomPageSize") {
        SecretWString size = ValueText(soup, Lookup(soup, settings, source, L"*%CustomPageSize"));
        SecretWString library = ValueText(soup, Lookup(soup, settings, source, L"**CustomPageSize"));
        const SecretWString& from = (!library.empty() && library != L"False") ? library : size;
        if (wchar_t* text = FormatCustomPrintSize(from.c_str(), nullptr, true, true)) {
            SetText(settings, soup, forest, source, L"**CustomPageSize", text);
            delete[] text;
        }
    } else {
        SetText(settings, soup, forest, source, L"**CustomPageSize", L"False");
    }
    if (const CKeySetting* orientation = Lookup(soup, settings, source, L"*!dmOrientation"))
        SetText(settings, soup, forest, source, L"*QVDrvOrientation", ValueText(soup, orientation).c_str());
    for (const wchar_t* keyword : {L"*QVDrvMirror", L"*QVDrvNegative"})
        if (const CKeySetting* setting = Lookup(soup, settings, source, keyword)) settings->Set(setting);
    return TRUE;
}

BOOL TQInterface::ImportPageKeys(KVCache* settings, CBaseSoup* soup, OptionForest* forest, const KVCache* source) {
    if (!settings || !soup) return FALSE;
    if (ValueText(soup, Lookup(soup, settings, source, L"*PageSize")) != L"CustomPageSize") {
        SetText(settings, soup, forest, source, L"**CustomPageSize", L"False");
    } else {
        SecretWString library = ValueText(soup, Lookup(soup, settings, source, L"**CustomPageSize"));
        SecretWString size = ValueText(soup, Lookup(soup, settings, source, L"*%CustomPageSize"));
        if (!library.empty() && !size.empty()) {
            JoinCommaList(library.data());
            JoinCommaList(size.data());
            wchar_t* driverForm = FormatCustomPrintSize(library.c_str(), size.c_str(), false, false);
            wchar_t* libraryForm = FormatCustomPrintSize(library.c_str(), size.c_str(), true, true);
            JoinCommaList(driverForm);
            JoinCommaList(libraryForm);
            if (driverForm) SetText(settings, soup, forest, source, L"*%CustomPageSize", driverForm);
            if (libraryForm) SetText(settings, soup, forest, source, L"**CustomPageSize", libraryForm);
            delete[] driverForm;
            delete[] libraryForm;
        }
    }
    SecretWString orientation = ValueText(soup, Lookup(soup, settings, source, L"*QVDrvOrientation"));
    if (!orientation.empty())
        SetDriverKeyText(settings, soup, forest, source, L"*!dmOrientation", orientation.c_str());
    const wchar_t* pairs[][2] = {{L"*QVDrvMirror", L"*%Mirroring"}, {L"*QVDrvNegative", L"*%Negative"}};
    for (auto& pair : pairs) {
        if (!Lookup(soup, settings, source, pair[0])) continue;
        bool on = ValueText(soup, Lookup(soup, settings, source, pair[0])) == L"True";
        SetDriverKeyText(settings, soup, forest, source, pair[1], on ? L"True" : L"False");
    }
    return TRUE;
}

void TQInterface::PrepareJobKeys(CBaseSoup* soup, KVCache* settings) const {
    if (!soup || !settings) return;
    if (ValueText(soup, Lookup(soup, settings, nullptr, L"*TQUserAuthSave")) == L"False") {
        SetText(settings, soup, m_forest, m_installed, L"*QVUserAuthPwd", L"");
        SetText(settings, soup, m_forest, m_installed, L"*QVUserAuthName", L"");
    }
    SetText(settings, soup, m_forest, m_installed, L"*QVShowJobMonitor", JobMonitorExists() ? L"True" : L"False");
}

// ---------------------------------------------------------------------------------------
// Watermarks.

CBaseStore* TQInterface::MakeWatermarkStore(HANDLE printer) {
    CBaseStore* store = new (std::nothrow) CAdminStore(printer, L"Watermark", REG_SZ);
    if (store) store->Load();
    return store;
}

BOOL TQInterface::AddCurrentWatermark(CBaseSoup* soup, const KVCache* settings, CBaseStore* store) {
    if (!soup || !settings || !store) return FALSE;
    SoupSlotID slot = SoupPropertySlot(soup, 5008, true);
    SecretWString text = ValueText(soup, slot.IsValid() ? settings->Find(slot) : nullptr);
    if (text.empty() || store->FindByValue(text.c_str(), nullptr) != store->End()) return FALSE;
    // The first number from count + 2 that no entry uses yet.
    size_t number = store->Count() + 2;
    while (store->Find(std::to_wstring(number).c_str())) ++number;
    return store->SetString(std::to_wstring(number).c_str(), text.c_str()) ? TRUE : FALSE;
}

BOOL TQInterface::SelectWatermark(CBaseSoup* soup, KVCache* settings, const TQKeyValueArray* watermarks) {
    if (!soup || !settings || !IsTrustedKeyValueArray(watermarks)) return FALSE;
    SoupSlotID textSlot = SoupPropertySlot(soup, 5008, true);
    SoupSlotID indexSlot = SoupPropertySlot(soup, 5007, true);
    SecretWString text = ValueText(soup, textSlot.IsValid() ? settings->Find(textSlot) : nullptr);
    CKeySetting* index = indexSlot.IsValid() ? settings->Find(indexSlot) : nullptr;
    if (text.empty() || !index) return FALSE;
    long wanted = static_cast<long>(wcstod(ValueText(soup, index).c_str(), nullptr)) - 1;
    const TQKeyValueItem* items = TQArrayItems(const_cast<TQKeyValueArray*>(watermarks));
    uint64_t position = 0;
    for (uint64_t i = 0; i < watermarks->count; ++i) {
        if (items[i].value && text == items[i].value) position = i + 1;
        if (items[i].keyword && *items[i].keyword && static_cast<long>(WatermarkNumber(items[i].keyword)) == wanted) {
            position = i + 1;
            break;
        }
    }
    CKeySetting* clone = index->Clone();
    if (!clone) return FALSE;
    BOOL done = clone->SetFromText(soup, nullptr, nullptr, std::to_wstring(position).c_str()) == 1 && settings->Set(clone);
    delete clone;
    return done;
}

BOOL TQInterface::ApplyWatermarkSelection(CBaseSoup* soup, KVCache* settings, const KVCache* source,
                                          const TQKeyValueArray* watermarks) {
    if (!soup || !settings || !IsTrustedKeyValueArray(watermarks)) return FALSE;
    const wchar_t* indexName = SoupString(soup, SoupPropertySlot(soup, 5007, true));
    const wchar_t* textName = SoupString(soup, SoupPropertySlot(soup, 5008, true));
    if (!indexName || !textName) return FALSE;
    double index = wcstod(ValueText(soup, Lookup(soup, settings, source, indexName)).c_str(), nullptr);
    if (index < 1 || index > static_cast<double>(watermarks->count)) return FALSE;
    const TQKeyValueItem& item = TQArrayItems(const_cast<TQKeyValueArray*>(watermarks))[static_cast<uint64_t>(index) - 1];
    if (!item.keyword || !item.value) return FALSE;
    long number = static_cast<long>(WatermarkNumber(item.keyword)) + 1;
    SetText(settings, soup, nullptr, source, textName, item.value);
    SetText(settings, soup, nullptr, source, indexName, std::to_wstring(number).c_str());
    return TRUE;
}

void TQInterface::SortWatermarks(TQKeyValueArray* watermarks) {
    if (!IsTrustedKeyValueArray(watermarks) || watermarks->count < 2) return;
    TQKeyValueItem* items = TQArrayItems(watermarks);
    std::stable_sort(items, items + watermarks->count, [](const TQKeyValueItem& a, const TQKeyValueItem& b) {
        bool aMissing = !a.keyword || !*a.keyword;
        bool bMissing = !b.keyword || !*b.keyword;
        if (aMissing || bMissing) return aMissing && !bMissing;
        return WatermarkNumber(a.keyword) < WatermarkNumber(b.keyword);
    });
}

void TQInterface::RenumberWatermarks(TQKeyValueArray* watermarks) {
    if (!IsTrustedKeyValueArray(watermarks)) return;
    TQKeyValueItem* items = TQArrayItems(watermarks);
    for (uint64_t i = 0; i < watermarks->count; ++i) {
        wchar_t* number = StrDup(std::to_wstring(i).c_str());
        if (!number) continue;
        delete[] items[i].keyword;
        items[i].keyword = number;
    }
}

// ---------------------------------------------------------------------------------------
// Pictures.

HBITMAP TQInterface::RenderPrinterPicture(const wchar_t* ppdPath, CBaseSoup* soup, const KVCache* settings) {
    OEMHold oem(ppdPath);
    if (!oem.Get() || !soup) return nullptr;
    COEMBitmapList layers(oem.Get(), soup);
    if (!layers.IsBuilt()) return nullptr;
    auto picture = ButtonFacePicture(kPictureWidth, kPictureHeight);
    if (!picture) return nullptr;
    layers.Draw(picture->GetDC(), SIZE{kPictureWidth, kPictureHeight}, settings);
    // The library gets the bitmap itself: no file is written, so the temporary folder does not matter.
    return picture->DetachBitmap();
}

HBITMAP TQInterface::LoadLogoBitmap(const wchar_t* ppdPath, HMODULE module, const wchar_t* bitmapName) {
    if (!bitmapName) return nullptr;
    OEMHold oem(ppdPath);
    HMODULE source = oem.Get() && oem.Get()->GetModule() ? oem.Get()->GetModule() : module;
    if (!source) return nullptr;
    HBITMAP loaded = static_cast<HBITMAP>(LoadImageW(source, bitmapName, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!loaded) return nullptr;
    BITMAP info = {};
    HBITMAP result = nullptr;
    if (GetObjectW(loaded, sizeof(info), &info) && info.bmWidth > 0 && info.bmHeight != 0) {
        int width = info.bmWidth;
        int height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
        auto picture = ButtonFacePicture(width, height);
        HDC from = picture ? CreateCompatibleDC(picture->GetDC()) : nullptr;
        if (from) {
            HGDIOBJ old = SelectObject(from, loaded);
            GdiTransparentBlt(picture->GetDC(), 0, 0, width, height, from, 0, 0, width, height, RGB(0, 255, 0));
            SelectObject(from, old);
            result = picture->DetachBitmap();
        }
        if (from) DeleteDC(from);
    }
    DeleteObject(loaded);
    return result;
}

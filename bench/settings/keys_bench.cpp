// Benchmark of the setting keys: building keys from compiled records, the feature
// emitters of range and note keys, building the watermark resource, and the
// password key's encryption. Prints microseconds per operation.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "settings/DrvStateAccess.h"
#include "settings/KVCache.h"
#include "settings/KeyFactory.h"
#include "settings/KeyForest.h"
#include "settings/KeyNoteSetting.h"
#include "settings/KeyNoteSpecials.h"
#include "settings/KeyRangeSetting.h"
#include "settings/KeyWatermarkStr.h"
#include "settings/StrSoup.h"

namespace {

double Now() { return BenchSeconds() * 1e6; }  // microseconds

void Report(const char* what, double totalUs, double count) {
    std::printf("%-52s %10.3f us\n", what, totalUs / count);
}

volatile uintptr_t g_sink;

struct State {
    CStrSoup soup;
    OptionForest forest;
    KVCache current;
};
State* Get(CDrvState* s) { return reinterpret_cast<State*>(s); }

void Put16(std::vector<uint8_t>& b, int v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutF64(std::vector<uint8_t>& b, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

}  // namespace

int main() {
    State state;
    DrvStateAccessors a;
    a.getSoup = [](CDrvState* s) -> CBaseSoup* { return &Get(s)->soup; };
    a.getKeyForest = [](CDrvState* s) -> OptionForest* { return &Get(s)->forest; };
    a.getCurrentSettings = [](CDrvState* s) -> KVCache* { return &Get(s)->current; };
    a.getOutputCodePage = [](CDrvState*) -> UINT { return 1252; };
    SetDrvStateAccessors(&a);
    CDrvState* ds = reinterpret_cast<CDrvState*>(&state);

    // 300 records: options with 8 entries, ranges, notes.
    std::vector<std::vector<uint8_t>> records;
    for (int i = 0; i < 100; ++i) {
        const int key = state.soup.FindOrAdd((L"*Option" + std::to_wstring(i)).c_str()).GetIndex();
        std::vector<uint8_t> r;
        for (int v : {0, 0, key, -1, -1, 1, 8, 2}) Put16(r, v);
        for (int e = 0; e < 8; ++e)
            for (int v : {e + 1, -1, e + 100, -1}) Put16(r, v);
        Put16(r, 5);
        Put16(r, 6);
        records.push_back(r);
        const int rkey = state.soup.FindOrAdd((L"*Range" + std::to_wstring(i)).c_str()).GetIndex();
        r.clear();
        for (int v : {1, 50, rkey, -1, -1, -1, 0}) Put16(r, v);
        for (double d : {0.0, 100.0, 1.0, 50.0}) PutF64(r, d);
        Put16(r, -1);
        Put16(r, -1);
        records.push_back(r);
        const int nkey = state.soup.FindOrAdd((L"*Note" + std::to_wstring(i)).c_str()).GetIndex();
        r.clear();
        for (int v : {3, 18, nkey, -1, -1, -1, -1, -1, 64}) Put16(r, v);
        records.push_back(r);
    }
    const int rounds = 200;
    double t = Now();
    for (int round = 0; round < rounds; ++round)
        for (const auto& r : records) {
            std::unique_ptr<CKeySetting> k(CreateKeySetting(&state.soup, r.data(), r.size()));
            g_sink = g_sink + reinterpret_cast<uintptr_t>(k.get());
        }
    Report("CreateKeySetting (mixed records, special-row search)", Now() - t, rounds * records.size());

    const CKeyRangeSetting range(state.soup.FindOrAdd(L"*QVBookMarginFloatPoints"), 3, 12.5, 0, 144,
                                 state.soup.FindOrAdd(L"userdict /TolvaRQdict known {TolvaRQdict /VYRBookMarginPt "
                                                      L"<*QVBookMarginFloatPoints> put} if"),
                                 2);
    char buffer[4096];
    t = Now();
    for (int i = 0; i < 20000; ++i) g_sink = g_sink + range.GetSetupCodeA(ds, buffer, sizeof buffer);
    Report("range GetSetupCodeA", Now() - t, 20000);

    const CKeyNoteSetting note(state.soup.FindOrAdd(L"*QVJobNote"), L"Quarterly report (final)", SoupSlotID(),
                               state.soup.FindOrAdd(L"userdict (VYRJobNote) cvn (<*QVJobNote>) put"),
                               state.soup.FindOrAdd(L"%%VYRJobNote: (<*QVJobNote>)"), 127);
    t = Now();
    for (int i = 0; i < 20000; ++i) g_sink = g_sink + note.GetSetupCodeA(ds, buffer, sizeof buffer);
    Report("note GetSetupCodeA (escaped)", Now() - t, 20000);
    t = Now();
    for (int i = 0; i < 20000; ++i) g_sink = g_sink + note.GetCommentTextA(ds, buffer, sizeof buffer);
    Report("note GetCommentTextA", Now() - t, 20000);

    t = Now();
    for (int i = 0; i < 2000; ++i)
        g_sink = g_sink + CKeyWatermarkStr::BuildResource(L"10,20,204,0,0,0,0,0,450,0,0,72,Helvetica-Bold,CONFIDENTIAL",
                                                          i & 1, 0x409, L"en", nullptr, 0)
                              .size();
    Report("watermark BuildResource (template 1)", Now() - t, 2000);

    t = Now();
    for (int i = 0; i < 200; ++i) {
        std::unique_ptr<wchar_t[]> hex(CKeyPasswordStr::Encrypt(L"s3cret-password"));
        g_sink = g_sink + reinterpret_cast<uintptr_t>(hex.get());
    }
    Report("password Encrypt (CryptoAPI RC4, fresh key)", Now() - t, 200);
    std::unique_ptr<wchar_t[]> hex(CKeyPasswordStr::Encrypt(L"s3cret-password"));
    t = Now();
    for (int i = 0; i < 200; ++i) g_sink = g_sink + reinterpret_cast<uintptr_t>(CKeyPasswordStr::Decrypt(hex.get()).get());
    Report("password Decrypt", Now() - t, 200);
    SetDrvStateAccessors(nullptr);
    return 0;
}

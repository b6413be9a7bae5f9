// Benchmark of the settings model's hot calls: soup interning and look-up, the
// soup blob round trip, property-slot resolution, settings-cache copies and
// constraint resolution. Prints microseconds per operation.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "settings/ConstraintResolver.h"
#include "settings/KeyOptSetting.h"
#include "settings/StrSoup.h"

namespace {

double Now() { return BenchSeconds() * 1e6; }  // microseconds

void Report(const char* what, double totalUs, double count) {
    std::printf("%-52s %10.3f us\n", what, totalUs / count);
}

volatile uintptr_t g_sink;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BenchSoup() {
    constexpr int kStrings = 20000;
    std::vector<std::wstring> texts;
    for (int i = 0; i < kStrings; ++i) texts.push_back(L"*Keyword" + std::to_wstring(i) + L"Value");

    CStrSoup soup;
    double t = Now();
    for (const std::wstring& s : texts) soup.FindOrAdd(s.c_str());
    Report("FindOrAdd (new text, 20,000)", Now() - t, kStrings);

    t = Now();
    for (const std::wstring& s : texts) g_sink = g_sink + soup.FindOrAdd(s.c_str()).GetIndex();
    Report("FindOrAdd (present text)", Now() - t, kStrings);

    t = Now();
    for (int r = 0; r < 5; ++r)
        for (const std::wstring& s : texts) g_sink = g_sink + soup.Find(s.c_str()).GetIndex();
    Report("Find", Now() - t, 5.0 * kStrings);

    t = Now();
    for (int r = 0; r < 50; ++r)
        for (int i = 0; i < kStrings; ++i) g_sink = g_sink + reinterpret_cast<uintptr_t>(soup.GetString(SoupSlotID(i)));
    Report("GetString", Now() - t, 50.0 * kStrings);

    // The first trip pays for fresh memory (under Wine every newly committed page
    // is expensive); later trips show the steady cost. Medians of 21 trips.
    constexpr int kTrips = 21;
    std::vector<uint8_t> blob;
    std::vector<double> serial, deserial, trip;
    for (int r = 0; r < kTrips; ++r) {
        t = Now();
        const uint32_t size = soup.Serialize(nullptr, 0);
        blob.resize(size);
        soup.Serialize(blob.data(), size);
        const double s = Now() - t;
        CStrSoup back;
        t = Now();
        back.Deserialize(blob.data(), size);
        const double d = Now() - t;
        if (r == 0) {
            Report("Serialize/Deserialize round trip, first (20,000)", s + d, 1);
            continue;
        }
        serial.push_back(s);
        deserial.push_back(d);
        trip.push_back(s + d);
    }
    Report("Serialize, size query + write (20,000 strings)", Median(serial), 1);
    Report("Deserialize (20,000 strings)", Median(deserial), 1);
    Report("Serialize/Deserialize round trip (20,000 strings)", Median(trip), 1);
    std::printf("%-52s %10u bytes\n", "blob size", static_cast<unsigned>(blob.size()));

    CStrSoup props;
    t = Now();
    for (int id = kFirstPropertyId; id < kFirstPropertyId + kPropertyCount; ++id) props.GetPropertySlot(id, true);
    Report("GetPropertySlot, 164 rows, first resolution (per row)", Now() - t, kPropertyCount);
    t = Now();
    for (int r = 0; r < 100; ++r)
        for (int id = kFirstPropertyId; id < kFirstPropertyId + kPropertyCount; ++id)
            g_sink = g_sink + props.GetPropertySlot(id, true).GetIndex();
    const double sweeps = Now() - t;
    Report("GetPropertySlot, 164 rows, cached (per row)", sweeps, 100.0 * kPropertyCount);
    Report("GetPropertySlot, all 164 rows cached (per sweep)", sweeps, 100.0);
}

void BenchCache() {
    KVCache cache;
    for (int k = 0; k < 300; ++k) {
        const CKeyOptSetting s{SoupSlotID(k), SoupSlotID(k + 1000)};
        cache.Set(&s);
    }
    constexpr int kCopies = 200;
    double t = Now();
    for (int r = 0; r < kCopies; ++r) {
        KVCache copy(cache);
        g_sink = g_sink + copy.GetCount();
    }
    Report("KVCache copy, 300 keys", Now() - t, kCopies);
}

// Two keys in conflict with n candidates each, 300 current settings; only the
// last combination of the first phase is free of conflicts.
void BenchResolve(int n) {
    KVCache current;
    ConstraintForest constraints;
    OptionForest options;
    for (int k = 1000; k < 1300; ++k) {
        const CKeyOptSetting s{SoupSlotID(k), SoupSlotID(k + 5000)};
        current.Set(&s);
    }
    auto addKey = [&](int key, int first, int count, int disabled) {
        for (int o = first; o < first + count; ++o) {
            const CKeyOptSetting s{SoupSlotID(key), SoupSlotID(o)};
            options.AddLeaf(SoupSlotID(key), COptData(&s, SoupSlotID(), SoupSlotID(), SoupSlotID(), o == disabled));
        }
        options.SetData(SoupSlotID(key), CKeyData(SoupSlotID(key)));
    };
    addKey(10, 100, n + 1, 100);
    addKey(20, 200, n + 1, 200);
    addKey(30, 300, 1, -1);
    const CKeyOptSetting c10{SoupSlotID(10), SoupSlotID(100)};
    const CKeyOptSetting c20{SoupSlotID(20), SoupSlotID(200)};
    current.Set(&c10);
    current.Set(&c20);
    constraints.AddLeaf(SoupSlotIDPair(30, 300), COptConstraints(10, 100));
    constraints.AddLeaf(SoupSlotIDPair(30, 300), COptConstraints(20, 200));
    for (int i = 1; i < n; ++i) constraints.AddLeaf(SoupSlotIDPair(10, 100 + i), COptConstraints(20, 200 + i));

    CConstraintResolver resolver(&current, &constraints, &options);
    constexpr int kRuns = 50;
    int ok = 0;
    const double t = Now();
    for (int r = 0; r < kRuns; ++r) {
        KVCache changes;
        const CKeyOptSetting s{SoupSlotID(30), SoupSlotID(300)};
        changes.Set(&s);
        ResultForest result;
        ok += resolver.Resolve(&changes, &result, false);
    }
    char what[80];
    std::snprintf(what, sizeof what, "Resolve, 2 keys x %d candidates, 300 settings%s", n, ok == kRuns ? "" : " (FAILED)");
    Report(what, Now() - t, kRuns);
}

}  // namespace

int main() {
    std::printf("settings model benchmark (%d-bit)\n", static_cast<int>(sizeof(void*) * 8));
    BenchSoup();
    BenchCache();
    for (int n : {2, 3, 5, 7}) BenchResolve(n);
    return 0;
}

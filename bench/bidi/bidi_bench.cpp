// The two-way road's figures: a cold start (client made, Brimsa started, library loaded, the
// first features answer), the round trip of a cached answer, and eight clients at once whose
// controller takes 500 ms per features call.
#include <windows.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "BiDiTestUtil.h"
#include "bench/BenchClock.h"
#include "uiplugin/BiDiClient.h"

using namespace bidi_test;

int main() {
    SetEnvironmentVariableW(L"TOLVA_TEST_BIDI_IDLE_MS", L"2000");
    // Cold start.
    BiDiPrinter cold = MakePrinter(L"BenchCold", kSampleScript, BrimsaPath(), StandInPath());
    double start = BenchSeconds();
    {
        CBiDiClient client(cold.srv().c_str(), cold.ppd().c_str(), L"10.0.0.7", nullptr);
        long count = 0;
        delete[] client.GetText(BiDiFeatures, &count);
        const double first = BenchSeconds();
        printf("cold start to first answer: %.1f ms (count %ld)\n", (first - start) * 1000.0, count);
        // Round trips of the cached answer.
        const int rounds = 500;
        start = BenchSeconds();
        for (int i = 0; i < rounds; ++i) delete[] client.GetText(BiDiFeatures, &count);
        printf("round trip (cached text, %d calls): %.3f ms\n", rounds, (BenchSeconds() - start) * 1000.0 / rounds);
        start = BenchSeconds();
        for (int i = 0; i < rounds; ++i) client.IsConnected();
        printf("round trip (IsConnected, %d calls): %.3f ms\n", rounds, (BenchSeconds() - start) * 1000.0 / rounds);
    }
    cold.EndServers();

    // Eight clients, 500 ms per features call.
    BiDiPrinter busy = MakePrinter(L"BenchEight", std::string(kSampleScript) + "QVServerGetFeaturesList ok 500\n",
                                   BrimsaPath(), StandInPath());
    {
        // Started once, so the figure is the overlap of the calls, not the start.
        CBiDiClient warm(busy.srv().c_str(), busy.ppd().c_str(), L"10.0.0.7", nullptr);
        warm.WaitForConnectAttempt();
        std::vector<long> counts(8, 0);
        std::vector<std::thread> threads;
        start = BenchSeconds();
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] {
                CBiDiClient client(busy.srv().c_str(), busy.ppd().c_str(), L"10.0.0.7", nullptr);
                delete[] client.GetText(BiDiFeatures, &counts[i]);
            });
        for (std::thread& thread : threads) thread.join();
        int answered = 0;
        for (long count : counts) answered += count == 89;
        printf("8 clients, 500 ms per call: all answered in %.1f ms (%d of 8 with count 89)\n",
               (BenchSeconds() - start) * 1000.0, answered);
    }
    busy.EndServers();
    return 0;
}

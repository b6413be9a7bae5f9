// Prints the cost per operation of the locks (AutoMutex named and unnamed, a bare kernel
// mutex for comparison, AutoQueueLock, guarded statics) and of the text conversions,
// formatting, escaping and ciphers of the foundation library.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include "bench/BenchClock.h"
#include "foundation/AutoMutex.h"
#include "foundation/BlockCipher.h"
#include "foundation/Crypto.h"
#include "foundation/StrUtil.h"
#include "foundation/Syncher.h"
#include "foundation/TemplateTag.h"

namespace {

double Now() { return BenchSeconds(); }

volatile long g_sink = 0;

// Runs op `count` times (after a short warm-up) and prints microseconds per operation.
void Measure(const char* name, long count, const std::function<void()>& op) {
    for (long i = 0; i < count / 20 + 1; ++i) op();
    const double start = Now();
    for (long i = 0; i < count; ++i) op();
    const double seconds = Now() - start;
    std::printf("%-58s %12.4f us/op  (%ld ops)\n", name, seconds * 1e6 / static_cast<double>(count), count);
}

struct BenchTag;

}  // namespace

int main() {
    std::printf("foundation benchmark (%d-bit)\n", static_cast<int>(sizeof(void*) * 8));

    std::printf("\n-- locks\n");
    AutoMutex unnamed;
    Measure("AutoMutex unnamed Lock+Unlock", 2000000, [&] {
        unnamed.Lock();
        unnamed.Unlock();
    });
    unnamed.Lock();
    Measure("AutoMutex unnamed nested Lock+Unlock (owner re-entry)", 2000000, [&] {
        unnamed.Lock();
        unnamed.Unlock();
    });
    unnamed.Unlock();

    WCHAR name[64];
    FormatToBuffer(name, 64, L"Local\\TolvaBench-%u", GetCurrentProcessId());
    AutoMutex named(name);
    Measure("AutoMutex named Lock+Unlock (kernel mutex)", 5000, [&] {
        named.Lock();
        named.Unlock();
    });
    named.Lock();
    Measure("AutoMutex named nested Lock+Unlock (owner re-entry)", 2000000, [&] {
        named.Lock();
        named.Unlock();
    });
    named.Unlock();

    HANDLE kernel = CreateMutexW(nullptr, FALSE, nullptr);
    Measure("bare unnamed kernel mutex Wait+Release (for comparison)", 5000, [&] {
        WaitForSingleObject(kernel, INFINITE);
        ReleaseMutex(kernel);
    });
    CloseHandle(kernel);

    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    Measure("bare critical section Enter+Leave (for comparison)", 2000000, [&] {
        EnterCriticalSection(&section);
        LeaveCriticalSection(&section);
    });
    DeleteCriticalSection(&section);

    static QueueLockWord word = nullptr;
    Measure("AutoQueueLock uncontended", 2000000, [&] { AutoQueueLock lock(&word); });

    {
        // Two threads taking turns: every acquisition is a hand-off through events.
        const long rounds = 2000;
        const double start = Now();
        std::thread other([&] {
            for (long i = 0; i < rounds; ++i) {
                AutoQueueLock lock(&word);
                g_sink = g_sink + 1;
            }
        });
        for (long i = 0; i < rounds; ++i) {
            AutoQueueLock lock(&word);
            g_sink = g_sink + 1;
        }
        other.join();
        const double seconds = Now() - start;
        std::printf("%-58s %12.4f us/op  (%ld ops)\n", "AutoQueueLock two threads contending",
                    seconds * 1e6 / static_cast<double>(2 * rounds), 2 * rounds);
    }
    {
        const long rounds = 20000;
        const double start = Now();
        std::thread other([&] {
            for (long i = 0; i < rounds; ++i) {
                AutoLock lock(&unnamed);
                g_sink = g_sink + 1;
            }
        });
        for (long i = 0; i < rounds; ++i) {
            AutoLock lock(&unnamed);
            g_sink = g_sink + 1;
        }
        other.join();
        const double seconds = Now() - start;
        std::printf("%-58s %12.4f us/op  (%ld ops)\n", "AutoMutex unnamed two threads contending",
                    seconds * 1e6 / static_cast<double>(2 * rounds), 2 * rounds);
    }

    Measure("GuardedSyncher accessor after first use", 2000000, [] {
        Syncher<long>& s = GuardedSyncher<long, BenchTag>([] { return new long(1); });
        g_sink = g_sink + (s.Get() ? 1 : 0);
    });

    std::printf("\n-- text\n");
    const char* ascii = "*OpenUI *VYRStapleLocation/Staple Location: PickOne";
    const char* utf8 = "\xEF\xBB\xBF*Translation \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E caf\xC3\xA9 Heftung oben links";
    const wchar_t* wide = L"*OpenUI *VYRStapleLocation/Staple Location: PickOne";
    Measure("StrUtil<wchar_t,char> 51 ASCII chars, code page 3", 500000, [&] {
        StrUtil<wchar_t, char> w(ascii);
        g_sink = g_sink + w.Count();
    });
    Measure("StrUtil<wchar_t,char> UTF-8 with mark", 500000, [&] {
        StrUtil<wchar_t, char> w(utf8, 1252);
        g_sink = g_sink + w.Count();
    });
    Measure("StrUtil<char,wchar_t> 51 chars, code page 3", 500000, [&] {
        StrUtil<char, wchar_t> a(wide);
        g_sink = g_sink + a.Count();
    });
    Measure("StrUtil<char,wchar_t> 51 chars, UTF-8", 500000, [&] {
        StrUtil<char, wchar_t> a(wide, CP_UTF8);
        g_sink = g_sink + a.Count();
    });
    Measure("StrUtil<wchar_t,wchar_t> copy", 1000000, [&] {
        StrUtil<wchar_t, wchar_t> c(wide);
        g_sink = g_sink + c.Count();
    });
    Measure("FormatAlloc L\"%s\" (wide duplicate)", 500000, [&] {
        WText t(FormatAlloc(L"%s", wide));
        g_sink = g_sink + (t ? 1 : 0);
    });
    Measure("FormatToBuffer L\"%s\\\\%s %d\"", 500000, [&] {
        wchar_t out[128];
        g_sink = g_sink + FormatToBuffer(out, 128, L"%s\\%s %d", L"Software\\VYR", L"Driver", 42);
    });
    Measure("EscapePostScriptText 51 chars", 500000, [&] {
        wchar_t out[256];
        g_sink = g_sink + EscapePostScriptText(L"Job (draft) \\ total: 100%", out, 256);
    });
    Measure("ReplaceTemplateTag, 2 tags, escaped", 500000, [&] {
        wchar_t out[256];
        g_sink = g_sink + ReplaceTemplateTag(L"name", L"x(y)", L"(<name>) show (<name>) =", out, 256, true);
    });
    Measure("ReplaceExtensionAlloc", 500000, [&] {
        WText p(ReplaceExtensionAlloc(L"C:\\windows\\system32\\spool\\drivers\\x64\\3\\TOLVA.PPD", L".PBJ"));
        g_sink = g_sink + (p ? 1 : 0);
    });

    std::printf("\n-- ciphers\n");
    Crypto crypto(L"6A0F3D92-B47C-4e15-8D2A-90C1E7B35F48", CALG_RC4, 40);
    Measure("Crypto::EncryptToHex RC4-40, 16 chars", 2000, [&] {
        WText h(crypto.EncryptToHex(L"billing-code-123"));
        g_sink = g_sink + (h ? 1 : 0);
    });
    Measure("Crypto object made and released", 500, [&] {
        Crypto c(L"password", CALG_RC4, 40);
        g_sink = g_sink + (c.HasKey() ? 1 : 0);
    });
    const uint8_t desKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    uint8_t block[16] = {};
    DesSetKey(desKey, kDesEncrypt);
    Measure("DesSetKey", 200000, [&] { DesSetKey(desKey, kDesEncrypt); });
    Measure("DesCryptBlock", 1000000, [&] { DesCryptBlock(block, block); });
    uint8_t aesKey[32] = {1, 2, 3};
    AesCipher aes;
    aes.Init(aesKey, nullptr, 32, 16);
    Measure("AesCipher::EncryptCbc one block", 1000000, [&] { aes.EncryptCbc(block, block, 16); });
    Measure("AesEncryptString 40 chars", 200000, [&] {
        uint8_t out[64];
        size_t length = sizeof(out);
        AesEncryptString(aesKey, aesKey, "0123456789012345678901234567890123456789", out, &length);
        g_sink = g_sink + static_cast<long>(length);
    });
    return 0;
}

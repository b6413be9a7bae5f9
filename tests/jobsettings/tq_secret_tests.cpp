// A user name and a password taken from the job-settings library and applied through a real
// sheet leave no freed heap block of this process holding either text. The program's own
// allocator keeps each block's size, fills each new block, and while armed looks into every
// block it frees.
#include <windows.h>
#include <prsht.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "sheets/TQDriverTab.h"
#include "tests/jobsettings/TQTestEnv.h"
#include "tests/sheets/SheetTestUtil.h"
#include "uiplugin/PropSheets.h"
#include "uiplugin/QuentaModule.h"
#include "uiplugin/TQInterface.h"
#include "uiplugin/TQManager.h"

namespace {

constexpr size_t kHeader = 16;  // keeps the blocks 16-byte aligned
constexpr const char* kUserName = "alice-TQ-name-7";
constexpr const char* kPassword = "pw-TQ-secret-9";

std::atomic<bool> g_armed{false};
std::atomic<int> g_hits{0};
std::atomic<size_t> g_scanned{0};
size_t g_firstHitSize = 0;
int g_firstHitWhich = -1;

// Whether block holds text as 8-bit or as UTF-16 characters.
bool Holds(const unsigned char* block, size_t size, const char* text, bool wide) {
    const size_t length = strlen(text) * (wide ? 2 : 1);
    if (size < length) return false;
    for (size_t at = 0; at + length <= size; ++at) {
        size_t i = 0;
        for (; i < length; ++i) {
            const unsigned char expected = wide ? (i % 2 ? 0 : static_cast<unsigned char>(text[i / 2]))
                                                : static_cast<unsigned char>(text[i]);
            if (block[at + i] != expected) break;
        }
        if (i == length) return true;
    }
    return false;
}

void Inspect(const void* block, size_t size) {
    g_scanned += 1;
    const auto* bytes = static_cast<const unsigned char*>(block);
    int which = 0;
    for (const char* secret : {kUserName, kPassword}) {
        for (bool wide : {true, false}) {
            if (Holds(bytes, size, secret, wide) && g_hits++ == 0) {
                g_firstHitSize = size;
                g_firstHitWhich = which;
            }
            ++which;
        }
    }
}

void* Allocate(size_t size) noexcept {
    void* base = malloc(size + kHeader);
    if (!base) return nullptr;
    *static_cast<size_t*>(base) = size;
    // malloc hands back memory the job-settings library's C runtime freed (its log file's
    // stream buffer holds the sign-in texts as 8-bit text): filled here, a block holds at its
    // free only what this program's code wrote into it.
    memset(static_cast<char*>(base) + kHeader, 0xA5, size);
    return static_cast<char*>(base) + kHeader;
}

void Release(void* block) noexcept {
    if (!block) return;
    char* base = static_cast<char*>(block) - kHeader;
    if (g_armed.load()) Inspect(block, *reinterpret_cast<size_t*>(base));
    free(base);
}

}  // namespace

void* operator new(size_t size) {
    if (void* block = Allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    if (void* block = Allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }

namespace {

using namespace sheettest;

TEST(TQSecrets, AppliedSignInTextsLeaveNoFreedBlockHoldingThem) {
    // The allocator sees what it should: a freed copy is found.
    g_armed = true;
    char* probe = new char[64];
    strcpy(probe, kPassword);
    delete[] probe;
    g_armed = false;
    ASSERT_EQ(g_hits.exchange(0), 1) << "the recording allocator finds a freed copy";

    const std::string config = std::string("changes=QVUserAuthName=") + kUserName + ";QVUserAuthPwd=" + kPassword + "\n";
    tqtest::TQFolder folder(L"full", config);
    HINSTANCE previousModule = GetQuentaModule();
    const TQClientCalls* previousCalls = SetTQClientCalls(&GetTQManagerClientCalls());
    SetQuentaModule(folder.Quenta());
    SetTabMaker(kTabJobSettings, &MakeTQDriverTab);
    tolvatest::TestPrinter printer(SheetPrinterSetup({}));
    ASSERT_TRUE(printer.Ok()) << printer.Error();
    {
        SheetSide side(printer.Handle(), true);
        coredriver::SheetRun run;
        run.param = &side.param;
        IPrintCoreUI2* core = &side.core;
        run.entry = [core](PPROPSHEETUI_INFO info, LPARAM lParam) {
            return DocumentPropertySheetsHandler(info, lParam, core);
        };
        run.script = [&](HWND sheet) {
            // Leaving the page takes the library's sign-in texts into the driver state; coming
            // back hands them to the library again; OK applies them.
            SendMessageW(sheet, PSM_SETCURSEL, 1, 0);
            SendMessageW(sheet, PSM_SETCURSEL, 0, 0);
            PropSheet_PressButton(sheet, PSBTN_OK);
        };
        g_scanned = 0;
        g_armed = true;
        const bool ran = coredriver::RunPropertySheet(run);
        g_armed = false;
        ASSERT_TRUE(ran) << run.error;
        EXPECT_GT(g_scanned.load(), 100u) << "the sheet's frees were looked into";
        EXPECT_EQ(g_hits.load(), 0) << "first hit: a block of " << g_firstHitSize << " bytes holding "
                                    << (g_firstHitWhich / 2 == 0 ? "the user name" : "the password")
                                    << (g_firstHitWhich % 2 == 0 ? " (UTF-16)" : " (8-bit)");

        // The texts did travel: the library was given them back on the return to the page.
        const std::string log = folder.Log();
        const size_t refresh = log.find("SetJobControlsSettings");
        ASSERT_NE(refresh, std::string::npos) << log;
        EXPECT_NE(log.find(std::string("QVUserAuthName=") + kUserName, refresh), std::string::npos) << log;
        EXPECT_NE(log.find(std::string("QVUserAuthPwd=") + kPassword, refresh), std::string::npos) << log;
    }
    SetTabMaker(kTabJobSettings, nullptr);
    SetQuentaModule(previousModule);
    SetTQClientCalls(previousCalls);
}

}  // namespace

// The job-settings library client against the tq2.dll stand-in: where the library is looked
// for, the order of its calls when the job UI opens, refreshes and closes, the settings-data
// session and its fall-backs, the one-client rule, readiness, validation and notification.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "storage/Store.h"
#include "tests/jobsettings/TQTestEnv.h"
#include "uiplugin/SDMInterface.h"
#include "uiplugin/TQInterface.h"
#include "uiplugin/TQManager.h"

using namespace tqtest;

namespace {

// The user's measurement system for a scope (the run flag follows it), put back however the
// scope ends: a metric locale left behind would change every later run's flag.
class MeasureLocale {
public:
    explicit MeasureLocale(const wchar_t* measure) {
        GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IMEASURE, m_old, 4);
        m_set = SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IMEASURE, measure) != FALSE;
    }
    ~MeasureLocale() {
        if (m_old[0]) SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IMEASURE, m_old);
    }
    MeasureLocale(const MeasureLocale&) = delete;
    MeasureLocale& operator=(const MeasureLocale&) = delete;
    bool Set() const { return m_set; }

private:
    wchar_t m_old[4] = {};
    bool m_set = false;
};

int g_boxes = 0;
std::wstring g_boxText;
int WINAPI RecordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT) {
    ++g_boxes;
    g_boxText = std::wstring(text) + L"|" + caption;
    return IDOK;
}

// A top-level "sheet" with one child "page"; records the 1128 messages the sheet gets.
struct SheetWindows {
    static inline std::vector<WPARAM> changed;
    static LRESULT CALLBACK SheetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_USER + 104) changed.push_back(wParam);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    SheetWindows() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &SheetProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TQTestSheet";
        RegisterClassW(&windowClass);
        sheet = CreateWindowExW(0, L"TQTestSheet", L"sheet", WS_OVERLAPPEDWINDOW, 0, 0, 750, 750, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        page = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 700, 600, sheet, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        changed.clear();
    }
    ~SheetWindows() { DestroyWindow(sheet); }
    HWND sheet = nullptr;
    HWND page = nullptr;
};

// A session record as the job-settings tab fills it for a two-way printer.
TQSessionInfo TwoWaySession(uint32_t flags) {
    TQSessionInfo session;
    InitTQSessionInfo(&session);
    strcpy(session.server, "10.1.2.3");
    strcpy(session.userName, "guest");
    strcpy(session.language, "en");
    strcpy(session.encoding, "UTF8");
    session.dataFlags = flags;
    session.sessionKind = 5;
    return session;
}

class TQClientTest : public SamplePrinterSuite {
protected:
    void SetUp() override {
        ASSERT_TRUE(sample->Ok()) << "sample printer: " << std::string(sample->Error().begin(), sample->Error().end());
        g_boxes = 0;
        TQInterface::SetMessageBoxSeam(&RecordBox);
    }
    void TearDown() override { TQInterface::SetMessageBoxSeam(nullptr); }

    // OpenJobUI as the job-settings tab calls it, on the sample printer's state.
    BOOL Open(TQInterface* client, HWND page, const wchar_t* queue = L"queue1", CBaseDrvState* state = nullptr) {
        if (!state) state = sample->State();
        KVCache extra;
        return client->OpenJobUI(page, state->GetPPDPath(), state->GetSoup(), state->GetCurrentSettings(),
                                 state->GetDefaultSettings(), state->GetKeyForest(), state->GetWatermarkStore(), queue,
                                 sample->Printer().Handle(), nullptr, MAKEINTRESOURCEW(3097), &extra, L"1252", L"en");
    }

};

TEST_F(TQClientTest, LibraryAndMonitorPathsFollowTheModule) {
    TQFolder folder(L"full");
    wchar_t path[MAX_PATH];
    ASSERT_TRUE(BuildTQLibraryPath(folder.Quenta(), L"tq2.dll", path, MAX_PATH));
    EXPECT_EQ(std::wstring(path), folder.Dir() + L"Quenta\\tq2.dll");
    // A path that does not fit is refused whole, never cut.
    EXPECT_FALSE(BuildTQLibraryPath(folder.Quenta(), L"tq2.dll", path, folder.Dir().size() + 8));
    EXPECT_EQ(path[0], L'\0');
    wchar_t* managed = TQManager::GetLibraryPath(folder.Quenta());
    ASSERT_NE(managed, nullptr);
    EXPECT_EQ(std::wstring(managed), folder.Dir() + L"Quenta\\tq2.dll");
    delete[] managed;

    TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(client, nullptr);
    EXPECT_TRUE(client->IsLoaded());
    EXPECT_EQ(std::wstring(client->GetJobMonitorPath()), folder.Dir() + L"qvjm.dll");
    EXPECT_TRUE(client->JobMonitorExists());
    ReleaseTQInterface(client);

    TQFolder bare(L"full", "", false);
    TQInterface* other = AcquireTQInterface(bare.Quenta(), nullptr, FALSE);
    ASSERT_NE(other, nullptr);
    EXPECT_FALSE(other->JobMonitorExists());
    ReleaseTQInterface(other);
}

TEST_F(TQClientTest, FirstOpenRefreshAndReleaseCallTheLibraryInOrder) {
    MeasureLocale us(L"1");
    ASSERT_TRUE(us.Set());
    TQFolder folder(L"full", "ready=2\n");
    SheetWindows windows;
    TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(client->IsLoaded());
    // No settings-data session: the default callbacks.
    EXPECT_EQ(client->GetCallbacks()->version, 13u);
    EXPECT_EQ(client->GetCallbacks()->documentProvider, &BuildSMDDataCallback);
    EXPECT_EQ(client->GetCallbacks()->pictureProvider, &GetPrinterPictureCallback);
    EXPECT_EQ(client->GetCallbacks()->answersFailed(client, nullptr), TQ_FAILED);

    ASSERT_TRUE(Open(client, windows.page));
    std::string log = folder.Log();
    std::vector<std::string> expected = {"Init", "BeginSession", "Init2", "IsServerReady", "IsServerReady",
                                         "IsServerReady", "SetJobKeyValues", "SetWatermarks", "Run",
                                         "CreateNotificationList", "RegisterNotificationList"};
    EXPECT_EQ(Only(log, {"Init", "BeginSession", "Init2", "IsServerReady", "SetJobKeyValues", "TQSetJobReadOnlyKeys",
                         "SetWatermarks", "Run", "CreateNotificationList", "RegisterNotificationList"}),
              expected)
        << log;
    EXPECT_NE(log.find("Run session 6 0 \"Printing Preferences\" 0x1000"), std::string::npos) << log;
    EXPECT_NE(log.find("Document 0 "), std::string::npos) << log;
    EXPECT_NE(log.find("Document freed by release (cleared)"), std::string::npos) << log;
    EXPECT_NE(log.find("Picture 2 FALSE"), std::string::npos) << log;
    // The library's change notice reaches the sheet with the page.
    ASSERT_EQ(SheetWindows::changed.size(), 1u);
    EXPECT_EQ(SheetWindows::changed[0], reinterpret_cast<WPARAM>(windows.page));
    EXPECT_NE(log.find("Notified 0"), std::string::npos);

    folder.ResetLog();
    ASSERT_TRUE(Open(client, windows.page));
    EXPECT_EQ(CallNames(folder.Log()), std::vector<std::string>{"SetJobControlsSettings"});

    folder.ResetLog();
    ReleaseTQInterface(client);
    // Closed with OK (no CloseJobUI): the list goes before the session ends.
    EXPECT_EQ(CallNames(folder.Log()), (std::vector<std::string>{"UnRegisterNotificationList", "DestroyNotificationList",
                                                                 "Term2", "EndSession", "Term", "DllEnd"}));
    EXPECT_EQ(folder.LiveBuffers(), 0);
}

TEST_F(TQClientTest, MetricLocaleGivesTheMetricRunFlag) {
    MeasureLocale metric(L"0");
    ASSERT_TRUE(metric.Set());
    TQFolder folder(L"full");
    SheetWindows windows;
    TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(client, nullptr);
    Open(client, windows.page);
    client->CloseJobUI();
    ReleaseTQInterface(client);
    EXPECT_NE(folder.Log().find("\"Printing Preferences\" 0x2000"), std::string::npos) << folder.Log();
}

TEST_F(TQClientTest, CancelClosesTheUIOnceAndReleaseOnlyEnds) {
    TQFolder folder(L"full");
    SheetWindows windows;
    TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(Open(client, windows.page));
    folder.ResetLog();
    client->CloseJobUI();
    EXPECT_EQ(CallNames(folder.Log()),
              (std::vector<std::string>{"UnRegisterNotificationList", "DestroyNotificationList", "Term2", "EndSession"}));
    EXPECT_EQ(client->GetPrinterPicture(), nullptr);
    folder.ResetLog();
    ReleaseTQInterface(client);
    EXPECT_EQ(CallNames(folder.Log()), (std::vector<std::string>{"Term", "DllEnd"}));
}

TEST_F(TQClientTest, LibrariesThatCannotServeDoNotLoad) {
    struct Case {
        const wchar_t* variant;
        const char* config;
        bool loads;
        int boxes;
    };
    const Case cases[] = {
        {L"full", "", true, 0},
        {L"novalidate", "", true, 0},
        {L"nofree", "", false, 0},
        {L"full", "init=0\n", false, 0},
        {L"", "", false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.variant, c.variant + wcslen(c.variant)) + " " + c.config);
        g_boxes = 0;
        TQFolder folder(c.variant, c.config);
        SheetWindows windows;
        TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(client->IsLoaded() != FALSE, c.loads);
        EXPECT_EQ(g_boxes, c.boxes);
        if (c.boxes) {
            EXPECT_EQ(g_boxText, L"LoadLibraryEx error|tqpath");
        }
        // A client that did not load does nothing later.
        EXPECT_EQ(Open(client, windows.page) != FALSE, c.loads);
        EXPECT_TRUE(client->ValidateSettings());
        client->CloseJobUI();
        ReleaseTQInterface(client);
        EXPECT_EQ(g_boxes, c.boxes);
        if (!c.loads && folder.Library()) {
            EXPECT_EQ(Count(folder.Log(), "BeginSession"), 0u);
        }
    }
}

TEST_F(TQClientTest, ValidationIsTheLibrarysLowByte) {
    for (auto [config, expected] : {std::pair{"validate=0\n", FALSE}, std::pair{"validate=256\n", FALSE},
                                    std::pair{"validate=1\n", TRUE}}) {
        TQFolder folder(L"full", config);
        SheetWindows windows;
        TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
        ASSERT_NE(client, nullptr);
        EXPECT_TRUE(client->ValidateSettings());  // no UI yet
        Open(client, windows.page);
        EXPECT_EQ(client->ValidateSettings(), expected) << config;
        ReleaseTQInterface(client);
    }
}

TEST_F(TQClientTest, OneClientPerProcessEvenWhenThreadsRace) {
    TQFolder folder(L"full");
    TQInterface* first = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(AcquireTQInterface(folder.Quenta(), nullptr, FALSE), nullptr);
    ReleaseTQInterface(nullptr);  // a refused acquisition needs no release: this changes nothing
    EXPECT_EQ(AcquireTQInterface(folder.Quenta(), nullptr, FALSE), nullptr);
    ReleaseTQInterface(first);
    {
        SyncherHold<TQManager> hold(GetTQManagerSyncher());
        EXPECT_EQ(hold.Get()->GetUseCount(), 0);
    }

    std::atomic<int> made{0};
    std::vector<TQInterface*> clients(8, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            clients[i] = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
            if (clients[i]) ++made;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(made.load(), 1);
    for (TQInterface* client : clients) ReleaseTQInterface(client);
    SyncherHold<TQManager> hold(GetTQManagerSyncher());
    EXPECT_EQ(hold.Get()->GetUseCount(), 0);
}

TEST_F(TQClientTest, ALibraryThatNeverGetsReadyIsGivenUpAtTheBound) {
    TQFolder folder(L"full", "ready=never\n");
    SheetWindows windows;
    DWORD old = TQInterface::SetReadyTimeout(300);
    TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(client, nullptr);
    EXPECT_FALSE(Open(client, windows.page));
    TQInterface::SetReadyTimeout(old);
    std::string log = folder.Log();
    EXPECT_EQ(Count(log, "Run"), 0u) << log;
    EXPECT_EQ(Count(log, "SetJobKeyValues"), 0u);
    EXPECT_GE(Count(log, "IsServerReady"), 3u);
    EXPECT_EQ(Count(log, "EndSession"), 1u);
    EXPECT_FALSE(client->HasUI());
    folder.ResetLog();
    ReleaseTQInterface(client);
    EXPECT_EQ(CallNames(folder.Log()), (std::vector<std::string>{"Term", "DllEnd"}));
}

TEST_F(TQClientTest, ALibraryReadyThroughItsWindowGetsReadyAndOneThatNeverDoesIsGivenUpOnce) {
    struct Case {
        const char* config;
        bool ready;
    };
    for (const Case& c : {Case{"ready=message\n", true}, Case{"ready=never\n", false}}) {
        SCOPED_TRACE(c.config);
        TQFolder folder(L"full", c.config);
        SheetWindows windows;
        DWORD old = TQInterface::SetReadyTimeout(300);
        TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
        ASSERT_NE(client, nullptr);
        // The readiness message sits in this thread's queue: only a wait that dispatches it
        // lets the library see it.
        EXPECT_EQ(Open(client, windows.page) != FALSE, c.ready) << folder.Log();
        // Every return to the page: a refresh, or the fallback at once without a new wait.
        const ULONGLONG before = GetTickCount64();
        EXPECT_EQ(Open(client, windows.page) != FALSE, c.ready);
        EXPECT_EQ(Open(client, windows.page) != FALSE, c.ready);
        const ULONGLONG spent = GetTickCount64() - before;
        TQInterface::SetReadyTimeout(old);
        std::string log = folder.Log();
        EXPECT_EQ(client->GaveUp() != FALSE, !c.ready);
        EXPECT_EQ(Count(log, "BeginSession"), 1u) << log;
        EXPECT_EQ(Count(log, "Init2"), 1u) << log;
        if (c.ready) {
            EXPECT_NE(log.find("ReadyMessage"), std::string::npos) << log;
            EXPECT_EQ(Count(log, "Run"), 1u) << log;
            EXPECT_EQ(Count(log, "SetJobControlsSettings"), 2u) << log;
        } else {
            EXPECT_EQ(Count(log, "Run"), 0u) << log;
            EXPECT_EQ(Count(log, "EndSession"), 1u) << log;
            EXPECT_LT(spent, 250u) << "a given-up library is not waited for again";
        }
        ReleaseTQInterface(client);
        EXPECT_EQ(folder.LiveBuffers(), 0);
    }
}

TEST_F(TQClientTest, ANoticeFromALibraryThreadReachesTheSheet) {
    TQFolder folder(L"full", "notify=thread\n");
    SheetWindows windows;
    TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(Open(client, windows.page));
    // The notice is sent from the library's thread: it arrives while this thread takes its
    // messages.
    const ULONGLONG end = GetTickCount64() + 3000;
    while (SheetWindows::changed.empty() && GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    ASSERT_EQ(SheetWindows::changed.size(), 1u) << folder.Log();
    EXPECT_EQ(SheetWindows::changed[0], reinterpret_cast<WPARAM>(windows.page));
    ReleaseTQInterface(client);
    std::string log = folder.Log();
    EXPECT_NE(log.find("Notified from thread"), std::string::npos) << log;
    EXPECT_EQ(log.find("Notified 0"), std::string::npos) << "not from the registering call";
}

TEST_F(TQClientTest, SignInTextsAreSentOnlyWhenTheyAreToBeKept) {
    // "*TQUserAuthSave" "False" empties the user name and the password before they are sent.
    struct Case {
        const char* save;
        bool sent;
    };
    for (const Case& c : {Case{"True", true}, Case{"False", false}}) {
        SCOPED_TRACE(c.save);
        VariantState variant("*%VYRUI_DefaultTQUserAuthSave: " + std::string(c.save) +
                             "\n*%VYRUI_TQUserAuthSave True/Keep: \"\"\n*%VYRUI_TQUserAuthSave False/Forget: \"\"");
        ASSERT_TRUE(variant.Ok());
        CBaseDrvState* state = variant.State();
        CBaseSoup* soup = state->GetSoup();
        KVCache* current = state->GetCurrentSettings();
        for (auto [keyword, value] : {std::pair{L"*QVUserAuthName", L"alice"}, std::pair{L"*QVUserAuthPwd", L"s3cret"}}) {
            CKeySetting* found = state->GetDefaultSettings()->Find(soup->Find(keyword));
            ASSERT_NE(found, nullptr);
            CKeySetting* clone = found->Clone();
            ASSERT_EQ(clone->SetFromText(soup, state->GetKeyForest(), keyword, value), 1);
            current->Set(clone);
            delete clone;
        }
        const wchar_t* saved = state->GetOptionText(current, L"*TQUserAuthSave");
        ASSERT_NE(saved, nullptr) << "the variant has the switch";
        ASSERT_EQ(std::wstring(saved), std::wstring(c.save, c.save + strlen(c.save)));
        TQFolder folder(L"full");
        SheetWindows windows;
        TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
        ASSERT_NE(client, nullptr);
        ASSERT_TRUE(Open(client, windows.page, L"queue1", state));
        std::string log = folder.Log();
        EXPECT_EQ(log.find("QVUserAuthName=alice") != std::string::npos, c.sent) << log;
        EXPECT_EQ(log.find("QVUserAuthPwd=s3cret") != std::string::npos, c.sent) << log;
        EXPECT_NE(log.find("QVUserAuthPwd="), std::string::npos) << "the key itself is sent";
        ReleaseTQInterface(client);
    }
}

TEST_F(TQClientTest, ASettingsDataSessionInstallsItsCallbacksAndEndsFirst) {
    TQFolder folder(L"full", "queue1=QVColorMode=Grayscale;Duplex=DuplexTumble\nqueue2=Duplex=DuplexNoTumble;QVColorMode=CMYK\n");
    SheetWindows windows;
    TQSessionInfo session = TwoWaySession(30);
    TQInterface* client = AcquireTQInterface(folder.Quenta(), &session, TRUE);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(client->IsSDMReady()) << folder.Log();
    EXPECT_EQ(client->GetCallbacks()->documentProvider, &BuildDeviceSMDDataCallback);
    EXPECT_EQ(client->GetCallbacks()->pictureProvider, &GetPrinterPictureSDMCallback);
    EXPECT_NE(client->GetLibraryDocumentProvider(), nullptr);
    EXPECT_NE(folder.Log().find("SDMInitialize server \"10.1.2.3\" flags 30 kind 5"), std::string::npos) << folder.Log();

    ASSERT_TRUE(Open(client, windows.page, L"print-queue"));
    std::string log = folder.Log();
    EXPECT_NE(log.find("SDMGetQueueAttributes \"print-queue\""), std::string::npos) << log;
    // *QVUseDefaultSettings is True: the first text's values are sent; the second goes as is.
    EXPECT_NE(log.find("QVColorMode=Grayscale"), std::string::npos) << log;
    EXPECT_NE(log.find("TQSetJobReadOnlyKeys Duplex|DuplexNoTumble|QVColorMode|CMYK|"), std::string::npos) << log;
    EXPECT_NE(log.find("SDMAllocMemory"), std::string::npos);
    EXPECT_NE(log.find("Document freed by SDMFreeMemory"), std::string::npos);
    EXPECT_NE(log.find("OwnDeviceDocument userdata"), std::string::npos);

    folder.ResetLog();
    ReleaseTQInterface(client);
    EXPECT_EQ(Only(folder.Log(), {"SDMTerminate", "SDMDllEndEx", "Term2", "EndSession", "Term", "DllEnd"}),
              (std::vector<std::string>{"SDMTerminate", "SDMDllEndEx", "Term2", "EndSession", "Term", "DllEnd"}));
    EXPECT_EQ(folder.LiveBuffers(), 0);
    SyncherHold<CSDMInterface> hold(GetSDMSyncher());
    EXPECT_EQ(hold.Get()->GetUseCount(), 0);
    EXPECT_EQ(hold.Get()->GetModule(), nullptr);
}

// The value of an option key in a state's current settings.
void SetCurrent(CBaseDrvState* state, const wchar_t* keyword, const wchar_t* value) {
    CBaseSoup* soup = state->GetSoup();
    CKeySetting* found = state->GetDefaultSettings()->Find(soup->Find(keyword));
    ASSERT_NE(found, nullptr);
    CKeySetting* clone = found->Clone();
    EXPECT_EQ(clone->SetFromText(soup, state->GetKeyForest(), keyword, value), 1);
    state->GetCurrentSettings()->Set(clone);
    delete clone;
}

TEST_F(TQClientTest, TheQueueTextsFollowTheUseDefaultSwitchAndTheMixedMediaFlag) {
    // The sample with the flag that says the queue's own mixed media is in use.
    VariantState variant("*OpenUI *QVMMInUse/Mixed Media In Use: Boolean\n*DefaultQVMMInUse: False\n"
                         "*QVMMInUse True/Yes: \"\"\n*QVMMInUse False/No: \"\"\n*CloseUI: *QVMMInUse");
    ASSERT_TRUE(variant.Ok());
    struct Case {
        const wchar_t* useDefault;
        const char* inUse;     // *QVMMInUse in the second text
        const char* duplex;    // the pair sent
        const char* media;     // the mixed-media pair sent; null: neither text's
    };
    const Case cases[] = {
        {L"True", "True", "Duplex=DuplexTumble", "RangeNum0=1-3"},    // the first text, all of it
        {L"False", "False", "Duplex=DuplexNoTumble", nullptr},        // the second, less its mixed media
        {L"False", "True", "Duplex=DuplexNoTumble", "RangeNum0=1-3"},  // the second, mixed media of the first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("use default ") + (c.useDefault[0] == L'T' ? "True" : "False") + ", in use " + c.inUse);
        const std::string second = std::string("Duplex=DuplexNoTumble;QVMMInUse=") + c.inUse + ";RangeNum0=4-5";
        TQFolder folder(L"full", "ready=2\nqueue1=Duplex=DuplexTumble;RangeNum0=1-3\nqueue2=" + second + "\n");
        SetCurrent(variant.State(), L"*QVUseDefaultSettings", c.useDefault);
        SheetWindows windows;
        TQSessionInfo session = TwoWaySession(30);
        TQInterface* client = AcquireTQInterface(folder.Quenta(), &session, TRUE);
        ASSERT_NE(client, nullptr);
        ASSERT_TRUE(client->IsSDMReady()) << folder.Log();
        ASSERT_TRUE(Open(client, windows.page, L"print-queue", variant.State()));
        const std::string log = folder.Log();
        // Construction and the first opening, in the library's order.
        EXPECT_EQ(Only(log, {"Init", "SDMInitialize", "BeginSession", "Init2", "IsServerReady", "SDMGetQueueAttributes",
                             "SetJobKeyValues", "TQSetJobReadOnlyKeys", "SetWatermarks", "Run", "CreateNotificationList",
                             "RegisterNotificationList"}),
                  (std::vector<std::string>{"Init", "SDMInitialize", "BeginSession", "Init2", "IsServerReady",
                                            "IsServerReady", "IsServerReady", "SDMGetQueueAttributes", "SetJobKeyValues",
                                            "TQSetJobReadOnlyKeys", "SetWatermarks", "Run", "CreateNotificationList",
                                            "RegisterNotificationList"}))
            << log;
        EXPECT_NE(log.find("Run session 6 0 \"Printing Preferences\""), std::string::npos) << log;
        const size_t sent = log.find("SetJobKeyValues ");
        ASSERT_NE(sent, std::string::npos) << log;
        const std::string line = log.substr(sent, log.find('\n', sent) - sent);  // "SetJobKeyValues N K=V;K=V"
        const std::string values = ";" + line.substr(line.find(' ', 16) + 1) + ";";
        EXPECT_NE(values.find(std::string(";") + c.duplex + ";"), std::string::npos) << values;
        if (c.media) {
            EXPECT_NE(values.find(std::string(";") + c.media + ";"), std::string::npos) << values;
        } else {
            EXPECT_EQ(values.find("RangeNum0=1-3"), std::string::npos) << values;
        }
        EXPECT_EQ(values.find("RangeNum0=4-5"), std::string::npos) << "the second text's mixed media is never taken";
        // The second text goes to the library as the read-only keys, whatever was applied.
        EXPECT_NE(log.find(std::string("TQSetJobReadOnlyKeys Duplex|DuplexNoTumble|QVMMInUse|") + c.inUse +
                           "|RangeNum0|4-5|"),
                  std::string::npos)
            << log;
        ReleaseTQInterface(client);
        EXPECT_EQ(folder.LiveBuffers(), 0);
    }
}

TEST_F(TQClientTest, AFailedSettingsDataStartFallsBackAndFreesTheLibrary) {
    DWORD old = TQInterface::SetCompletionTimeout(300);
    struct Case {
        const wchar_t* variant;
        const char* config;
    };
    for (const Case& c : {Case{L"full", "complete=50,0\n"}, Case{L"full", "complete=100,5\n"},
                          Case{L"full", "complete=none\n"}, Case{L"nosdm", ""}}) {
        SCOPED_TRACE(c.config);
        TQFolder folder(c.variant, c.config);
        TQSessionInfo session = TwoWaySession(64);
        TQInterface* client = AcquireTQInterface(folder.Quenta(), &session, TRUE);
        ASSERT_NE(client, nullptr);
        EXPECT_TRUE(client->IsLoaded());
        EXPECT_FALSE(client->IsSDMReady());
        EXPECT_EQ(client->GetCallbacks()->documentProvider, &BuildSMDDataCallback);
        {
            SyncherHold<CSDMInterface> hold(GetSDMSyncher());
            EXPECT_EQ(hold.Get()->GetUseCount(), 0);
            EXPECT_EQ(hold.Get()->GetModule(), nullptr);
        }
        ReleaseTQInterface(client);
        EXPECT_EQ(folder.LiveBuffers(), 0);
    }
    TQInterface::SetCompletionTimeout(old);
}

TEST_F(TQClientTest, TheStoresOfTheStateAreNotTouched) {
    TQFolder folder(L"full");
    SheetWindows windows;
    CUserStore* own = sample->State()->GetWatermarkStore();
    ASSERT_NE(own, nullptr);
    size_t before = own->Count();
    TQInterface* client = AcquireTQInterface(folder.Quenta(), nullptr, FALSE);
    ASSERT_NE(client, nullptr);
    Open(client, windows.page);
    ReleaseTQInterface(client);
    EXPECT_EQ(sample->State()->GetWatermarkStore(), own);
    EXPECT_EQ(own->Count(), before);
}

}  // namespace

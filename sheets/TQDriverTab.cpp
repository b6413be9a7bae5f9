// The job-settings page (see TQDriverTab.h).
#include "sheets/TQDriverTab.h"

#include <new>
#include <string>

#include "foundation/StrUtil.h"
#include "settings/KeyUtility.h"
#include "sheets/MemoryDC.h"
#include "sheets/ResXmlBitmap.h"
#include "storage/CfgSettings.h"
#include "storage/CfgSettingsManager.h"
#include "storage/PortResolver.h"
#include "storage/Store.h"
#include "uiplugin/DrvStateUI.h"
#include "uiplugin/PropSheets.h"
#include "uiplugin/SDMInterface.h"
#include "uiplugin/TQInterface.h"

namespace {

constexpr int kHelpId = 101;
constexpr int kNoJobUIControl = 1397;
constexpr int kDefaultLogoId = 3097;

// Converts a wide text into an 8-bit field of size bytes; a text that does not fit leaves
// the field empty (a cut address would name another server).
void PutField(char* field, size_t size, const wchar_t* text, UINT codePage) {
    field[0] = '\0';
    if (!text || !*text) return;
    int needed = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || static_cast<size_t>(needed) > size) return;
    WideCharToMultiByte(codePage, 0, text, -1, field, static_cast<int>(size), nullptr, nullptr);
}

using PrintWindowFn = BOOL(WINAPI*)(HWND, HDC, UINT);

}  // namespace

CTQDriverTab::CTQDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId, int passive)
    : CBaseDriverTab(owner, info, dialogId, DummySettings::Instance()),
      m_passive(passive),
      m_cache(new (std::nothrow) KVCache()) {}

CTQDriverTab::~CTQDriverTab() {
    delete m_snapshot;
    delete m_cache;
}

wchar_t* CTQDriverTab::GetPageTitle() { return GetOptionDisplayName(5073, 5076); }

BOOL CTQDriverTab::IsPageHidden() { return IsOptionOff(5073, 5076); }

INT_PTR CTQDriverTab::OnEraseBackground(HWND, HDC dc) {
    if (!m_snapshot || !m_snapshot->GetDC()) return 0;
    SIZE size = m_snapshot->GetSize();
    BitBlt(dc, 0, 0, size.cx, size.cy, m_snapshot->GetDC(), 0, 0, SRCCOPY);
    return 1;
}

void CTQDriverTab::TakeSnapshot(HWND page) {
    SIZE size = {m_after.right - m_after.left, m_after.bottom - m_after.top};
    if (size.cx <= 0 || size.cy <= 0) return;
    auto* snapshot = new (std::nothrow) CMemoryDC(24, size);
    if (!snapshot) return;
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    auto printWindow =
        user32 ? reinterpret_cast<PrintWindowFn>(reinterpret_cast<void (*)()>(GetProcAddress(user32, "PrintWindow")))
               : nullptr;
    bool drawn = printWindow && snapshot->GetDC() && printWindow(page, snapshot->GetDC(), 1 /* PW_CLIENTONLY */);
    if (user32) FreeLibrary(user32);
    if (drawn) m_snapshot = snapshot;
    else delete snapshot;
}

INT_PTR CTQDriverTab::OnNotify(HWND hwnd, WPARAM wParam, NMHDR* header) {
    // The snapshot lives until the next notification.
    CMemoryDC* held = m_snapshot;
    m_snapshot = nullptr;
    INT_PTR result = 0;
    switch (header ? header->code : 0u) {
    case PSN_HELP:
        SetHelpId(kHelpId);
        result = CBaseDriverTab::OnNotify(hwnd, wParam, header);
        break;
    case PSN_RESET:
        if (m_open) TakeSnapshot(hwnd);
        m_open = 0;
        CloseJobUI();
        result = CBaseDriverTab::OnNotify(hwnd, wParam, header);
        break;
    case PSN_APPLY:
        result = CBaseDriverTab::OnNotify(hwnd, wParam, header);
        break;
    case PSN_KILLACTIVE:
        if (m_open && !FetchJobSettings()) {
            SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
            result = 1;
        } else {
            result = CBaseDriverTab::OnNotify(hwnd, wParam, header);
        }
        break;
    case PSN_SETACTIVE: {
        if (GetOwner()) {
            RECT rect;
            GetWindowRect(hwnd, &rect);
            GetOwner()->RecordPageRect(rect);
        }
        if (!m_open) {
            GetWindowRect(hwnd, &m_before);
            FitSheetToDesktop(hwnd);
            InitJobUI(hwnd);
            m_open = 1;
            m_placement = m_after;
            GrowSheet(hwnd, (m_after.right - m_after.left) - (m_before.right - m_before.left),
                      (m_after.bottom - m_after.top) - (m_before.bottom - m_before.top));
            // Put the page back where it was within its parent.
            RECT now;
            GetWindowRect(hwnd, &now);
            POINT at = {now.left + (m_before.left - m_after.left), now.top + (m_before.top - m_after.top)};
            ScreenToClient(GetParent(hwnd), &at);
            SetWindowPos(hwnd, nullptr, at.x, at.y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
        } else {
            PlaceSheet(hwnd);
            InitJobUI(hwnd);
        }
        HWND sheet = GetParent(hwnd);
        if (sheet) SetWindowLongPtrW(sheet, GWL_EXSTYLE, GetWindowLongPtrW(sheet, GWL_EXSTYLE) & ~WS_EX_CONTEXTHELP);
        result = 0;
        break;
    }
    default:
        result = 0;
    }
    delete held;
    return result;
}

BOOL CTQDriverTab::InitJobUI(HWND page) {
    PropSheetsInfo* owner = GetOwner();
    CDrvStateUI* state = owner ? owner->GetDrvState() : nullptr;
    if (!owner || !state || !owner->GetDataFile()) {
        ShowWindow(GetDlgItem(page, kNoJobUIControl), SW_SHOW);
        return FALSE;
    }
    StateSettingsHold settings(state, owner->GetDataFile());
    BOOL setUp = FALSE;
    wchar_t* address = nullptr;
    TQSessionInfo* session = nullptr;
    if (settings.Get()) {
        CKeySettingsUtility keys(state);
        address = keys.GetCurrentTextByProp(5020);
        CPrinterPortResolver resolver(owner->GetPrinter());
        if (resolver.HasServerName() && resolver.LacksAdminAccess() && keys.IsOptionSetByProp(5107, 5056)) {
            // The server's settings win for a user without rights; the address stays the user's.
            // A reload that fails leaves the settings as they were.
            if (state->Load(settings.Get(), owner->GetOemUIPSParam(), owner->GetOemUIObj())) {
                KVCache fresh;
                CKeySettingsUtility reloaded(state);
                reloaded.SetNoteTextByProp(&fresh, 5020, address ? address : L"");
                state->UpdateValues(&fresh);
            }
        }
        session = BuildTQSessionInfo(settings.Get(), state);
        CUserStore* store = state->GetWatermarkStore();
        TQInterface* tq = owner->GetTQInterface(owner->GetModule(), session,
                                                keys.IsOptionSetByProp(5017, 5056) ? TRUE : FALSE);
        if (tq && store) {
            if (tq->IsLoaded() && !m_passive) {
                wchar_t* codePage = LoadCodePageString();
                const wchar_t* language = settings.Get()->GetLanguageCode();
                wchar_t queueBuffer[256] = {};
                wchar_t host[256] = {};
                const wchar_t* queue = nullptr;
                wchar_t* wsQueue = nullptr;
                if (owner->GetPrinter()) {
                    CPrinterPortResolver ports(owner->GetPrinter());
                    if (ports.ResolveServerAddress(host, 256, queueBuffer, 256)) queue = queueBuffer;
                    if (ports.HasServerName() && keys.IsOptionSetByProp(5163, 5098)) {
                        wsQueue = keys.GetCurrentTextByProp(5162);
                        queue = wsQueue;
                    }
                }
                int logo = GetBitmapIdFromResXml(owner->GetDataFile(), L"IDB_LOGO");
                if (logo <= 0) logo = kDefaultLogoId;  // 0: no Res.xml at all
                if (m_cache) m_cache->Clear();
                BOOL opened = tq->OpenJobUI(page, owner->GetDataFile(), state->GetSoup(), state->GetCurrentSettings(),
                                            state->GetDefaultSettings(), state->GetKeyForest(), store, queue,
                                            owner->GetPrinter(), GetModule(kModuleResources),
                                            MAKEINTRESOURCEW(static_cast<WORD>(logo)), m_cache, codePage, language);
                GetWindowRect(page, &m_after);
                // A library that never got ready leaves the page without its window.
                if (!opened) ShowWindow(GetDlgItem(page, kNoJobUIControl), SW_SHOW);
                delete[] codePage;
                delete[] wsQueue;
            } else {
                GetWindowRect(page, &m_after);
            }
            setUp = TRUE;
        }
    }
    if (!setUp) ShowWindow(GetDlgItem(page, kNoJobUIControl), SW_SHOW);
    if (IsRectEmpty(&m_after)) GetWindowRect(page, &m_after);
    // The record carries a user name and a password field.
    if (session) WipeMemory(session, sizeof(*session));
    delete session;
    delete[] address;
    return setUp;
}

void CTQDriverTab::CloseJobUI() {
    PropSheetsInfo* owner = GetOwner();
    CDrvStateUI* state = owner ? owner->GetDrvState() : nullptr;
    if (!owner || !state || m_passive || !state->GetWatermarkStore()) return;
    TQInterface* tq = owner->GetTQInterface(nullptr, nullptr, 0);
    if (tq && tq->IsLoaded()) tq->CloseJobUI();
}

BOOL CTQDriverTab::FetchJobSettings() {
    BOOL result = TRUE;
    PropSheetsInfo* owner = GetOwner();
    CDrvStateUI* state = owner ? owner->GetDrvState() : nullptr;
    if (!owner || !state || !owner->GetDataFile()) return result;
    StateSettingsHold settings(state, owner->GetDataFile());
    CUserStore* store = state->GetWatermarkStore();
    TQInterface* tq = owner->GetTQInterface(nullptr, nullptr, 0);
    if (!settings.Get() || !store || !tq || !tq->IsLoaded()) return result;
    KVCache collected;
    collected.SetAll(state->GetDefaultSettings());
    collected.SetAll(state->GetCurrentSettings());
    if (m_passive) return result;
    result = tq->ValidateSettings();
    KVCache values;
    if (result && tq->FetchJobSettings(state->GetSoup(), &values, &collected, state->GetKeyForest(), store))
        state->UpdateValues(&values);
    return result;
}

TQSessionInfo* CTQDriverTab::BuildTQSessionInfo(CfgSettings* settings, CDrvState* state) {
    if (!settings || !state) return nullptr;
    auto* session = new (std::nothrow) TQSessionInfo;
    if (!session) return nullptr;
    InitTQSessionInfo(session);
    CKeySettingsUtility keys(state);
    if (!keys.IsValid() || !keys.IsOptionSetByProp(5016, 5056)) {
        delete session;
        return nullptr;
    }
    wchar_t* address = keys.GetCurrentTextByProp(5020);
    PutField(session->server, sizeof(session->server), address, CP_ACP);
    delete[] address;
    session->password[0] = '\0';
    StrCopyA(session->userName, sizeof(session->userName), "guest");
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length && length < MAX_PATH) {
        char narrow[MAX_PATH * 4] = {};
        WideCharToMultiByte(CP_ACP, 0, temp, -1, narrow, sizeof(narrow), nullptr, nullptr);
        strncpy_s(session->tempFolder, sizeof(session->tempFolder), narrow, _TRUNCATE);
    }
    PutField(session->language, sizeof(session->language), settings->GetLanguageCode(), settings->GetCodePage());
    StrCopyA(session->encoding, sizeof(session->encoding), "UTF8");
    session->dataFlags = keys.IsOptionSetByProp(5017, 5056) ? 30 : 64;
    session->sessionKind = 5;
    return session;
}

int CTQDriverTab::GetBitmapIdFromResXml(const wchar_t* dataFile, const wchar_t* bitmapName) {
    return ::GetBitmapIdFromResXml(dataFile, bitmapName);  // one path rule for every page
}

CBaseDriverTab* MakeTQDriverTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId) {
    return new (std::nothrow) CTQDriverTab(owner, info, dialogId, 0);
}

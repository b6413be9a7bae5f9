// A test tab for the framework's tests: page 101 of the sample language module with a page
// size list (1401), a collate box (1402) and a paper source list (1403), bound to *PageSize,
// *Collate and *InputSlot of the sheet's driver state.
#pragma once

#include <windows.h>

#include <cwchar>
#include <list>

#include "settings/KeyUtility.h"
#include "settings/OptionUtil.h"
#include "sheets/BaseDriverTab.h"
#include "sheets/SubclassLayer.h"
#include "storage/CfgSettingsManager.h"
#include "storage/DrvState.h"
#include "uiplugin/PropSheets.h"

namespace sheettest {

struct TESTDATA {
    int pageSize;   // slot id of the *PageSize option
    int collate;    // 1 for True
    int inputSlot;  // slot id of the *InputSlot option
};

// A plain list (strings with the option's slot id as item data).
inline void ExchangePlainCombo(HWND dialog, int direction, void* data, int controlId)
{
    HWND combo = GetDlgItem(dialog, controlId);
    int* value = static_cast<int*>(data);
    if (!combo) return;
    if (direction == kExchangeFromControls) {
        LRESULT selection = SendMessageW(combo, CB_GETCURSEL, 0, 0);
        if (selection != CB_ERR) *value = static_cast<int>(SendMessageW(combo, CB_GETITEMDATA, selection, 0));
        return;
    }
    int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        if (static_cast<int>(SendMessageW(combo, CB_GETITEMDATA, i, 0)) == *value) SendMessageW(combo, CB_SETCURSEL, i, 0);
}

class TestSettings : public CBasicSettings<SimpleData<TESTDATA>> {
public:
    BOOL storeResult = TRUE;
    int storeCalls = 0;
    int loadCalls = 0;

    BOOL Load(CBaseDriverTab* tab) override
    {
        ++loadCalls;
        CDrvState* state = tab->GetDrvState();
        if (!state) return FALSE;
        CBaseSoup* soup = state->GetSoup();
        m_data.value.pageSize = OptionSlot(state, L"*PageSize");
        m_data.value.inputSlot = OptionSlot(state, L"*InputSlot");
        m_data.value.collate = OptionSlot(state, L"*Collate") == static_cast<int>(soup->Find(L"True").GetIndex()) ? 1 : 0;
        return TRUE;
    }
    BOOL Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest*) override
    {
        ++storeCalls;
        if (!storeResult) return FALSE;
        auto* state = static_cast<CBaseDrvState*>(tab->GetDrvState());
        if (!state) return TRUE;
        CBaseSoup* soup = state->GetSoup();
        CKeySettingsUtility keys(state);
        Put(keys, changes, soup, L"*PageSize", m_data.value.pageSize, OptionSlot(state, L"*PageSize"));
        Put(keys, changes, soup, L"*InputSlot", m_data.value.inputSlot, OptionSlot(state, L"*InputSlot"));
        int collateNow = OptionSlot(state, L"*Collate") == static_cast<int>(soup->Find(L"True").GetIndex()) ? 1 : 0;
        if (collateNow != m_data.value.collate)
            keys.SetOption(changes, soup->Find(L"*Collate"), soup->Find(m_data.value.collate ? L"True" : L"False"));
        return TRUE;
    }
    void BindControls(SubclassLayer* layer) override
    {
        const DataExchangeEntry rows[] = {{1401, &m_data.value.pageSize, ExchangePlainCombo},
                                          {1402, &m_data.value.collate, ExchangeCheckBox},
                                          {1403, &m_data.value.inputSlot, ExchangePlainCombo}};
        SetExchangeTable(layer, rows, 3);
    }

private:
    static int OptionSlot(CDrvState* state, const wchar_t* keyword)
    {
        CKeySettingsUtility keys(state);
        SoupSlotID key = state->GetSoup()->Find(keyword);
        return keys.IsValid() && !key.IsInvalid() ? static_cast<int>(keys.GetOption(key).GetIndex()) : -1;
    }
    static void Put(CKeySettingsUtility& keys, KVCache* changes, CBaseSoup* soup, const wchar_t* keyword, int value,
                    int current)
    {
        if (value != current && value != -1) keys.SetOption(changes, soup->Find(keyword), SoupSlotID(value));
    }
};

class TestTab : public CBaseDriverTab {
public:
    TestTab(PropSheetsInfo* owner, PROPSHEETUI_INFO* info, int dialogId)
        : CBaseDriverTab(owner, info, dialogId, new TestSettings())
    {
    }
    // The base owns the settings object.
    TestSettings& Settings() { return *static_cast<TestSettings*>(GetSettings()); }
    int hiddenByOption = 0;  // option property of key 5073 that decides visibility (0: shown)

    BOOL IsPageHidden() override { return hiddenByOption ? IsOptionOff(5073, hiddenByOption) : FALSE; }

    INT_PTR OnInitDialog(HWND hwnd, WPARAM, LPARAM) override
    {
        Fill(hwnd, 1401, L"*PageSize");
        Fill(hwnd, 1403, L"*InputSlot");
        Settings().BindControls(FindSubclassLayer(hwnd, DialogLayerProc));
        return 1;
    }

private:
    void Fill(HWND hwnd, int id, const wchar_t* keyword)
    {
        CDrvState* state = GetDrvState();
        HWND combo = GetDlgItem(hwnd, id);
        if (!state || !combo) return;
        StateSettingsHold settings(state, GetOwner()->GetDataFile());
        COptionUtil options(state->GetSoup(), settings.Get()->GetKeyForest());
        SoupSlotID key = state->GetSoup()->Find(keyword);
        std::list<COptData>* list = options.GetOptionList(key);
        if (!list) return;
        for (const COptData& option : *list) {
            const wchar_t* name = options.GetOptionDisplayName(key, option.GetValueId());
            LRESULT index = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name ? name : L"?"));
            SendMessageW(combo, CB_SETITEMDATA, index, static_cast<LPARAM>(option.GetValueId().GetIndex()));
        }
    }
};

}  // namespace sheettest

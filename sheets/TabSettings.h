// The settings objects of the tabs: each holds the small record that its page shows, moves it
// between the record and the controls through the page's exchange table, and between the
// record and the sheet's driver state.
#pragma once

#include <windows.h>

#include <cstring>

#include "settings/KVCache.h"
#include "settings/KeyForest.h"
#include "sheets/DataExchange.h"

class CBaseDriverTab;

class BaseSettings {
public:
    BaseSettings() = default;
    virtual ~BaseSettings() = default;
    BaseSettings(const BaseSettings&) = delete;
    BaseSettings& operator=(const BaseSettings&) = delete;

    // Record to controls.
    virtual void WriteControls(CBaseDriverTab* tab, SubclassLayer* dialogLayer, HWND hwnd) = 0;
    // Controls to record; true when the record changed.
    virtual BOOL ReadControls(CBaseDriverTab* tab, SubclassLayer* dialogLayer, HWND hwnd) = 0;
    // Shows, hides or enables controls from the record.
    virtual void UpdateControlStates(CBaseDriverTab* tab, SubclassLayer* dialogLayer) = 0;
    virtual int Reserved(int flag, ...) = 0;
    // Record from the sheet's driver state.
    virtual BOOL Load(CBaseDriverTab* tab) = 0;
    // Record into changes (settings that differ from the driver state); true on success.
    virtual BOOL Store(CBaseDriverTab* tab, KVCache* changes, ConstraintForest* constraints) = 0;
    // Registers the exchange table and button rows of the page.
    virtual void BindControls(SubclassLayer* dialogLayer) = 0;
};

// A plain record held by value, copied and compared bytewise.
template <class T>
struct SimpleData {
    T value{};
    bool operator==(const SimpleData& other) const { return std::memcmp(&value, &other.value, sizeof(T)) == 0; }
};

template <class Data>
class CBasicSettings : public BaseSettings {
public:
    CBasicSettings() = default;
    ~CBasicSettings() override = default;

    void WriteControls(CBaseDriverTab*, SubclassLayer* dialogLayer, HWND hwnd) override
    {
        RunExchangeTable(dialogLayer, hwnd, kExchangeToControls);
    }
    BOOL ReadControls(CBaseDriverTab*, SubclassLayer* dialogLayer, HWND hwnd) override
    {
        Data before(m_data);
        RunExchangeTable(dialogLayer, hwnd, kExchangeFromControls);
        return before == m_data ? FALSE : TRUE;
    }
    void UpdateControlStates(CBaseDriverTab*, SubclassLayer*) override {}
    int Reserved(int, ...) override { return 0; }
    BOOL Load(CBaseDriverTab*) override { return 1; }
    BOOL Store(CBaseDriverTab*, KVCache*, ConstraintForest*) override { return 1; }
    void BindControls(SubclassLayer*) override {}

    Data& GetData() { return m_data; }

protected:
    Data m_data;
};

struct DUMMYDATA {
    DWORD unused;
};

// The settings of a tab that has none of its own.
class DummySettings : public CBasicSettings<SimpleData<DUMMYDATA>> {
public:
    // The one shared instance, made on first use.
    static DummySettings* Instance();
};

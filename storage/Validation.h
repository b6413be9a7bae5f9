// Settings validation and conflict messages: before changed settings reach the driver state
// they are checked against the PPD's option constraints. When the constraint resolver finds
// further settings that must change, the user confirms or cancels the list of changes; when
// no consistent set exists, the user is told which settings stand in the way and nothing is
// applied.
#pragma once

#include <windows.h>

#include "settings/KVCache.h"
#include "settings/KeyForest.h"
#include "settings/StrSoup.h"

class CDrvState;
class CfgSettings;

// The message box the validation shows (MessageBoxW by default); tests install a recorder.
using ValidationMessageBoxFn = int (*)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
// Installs fn for the process (null restores MessageBoxW); returns the previous one.
ValidationMessageBoxFn SetValidationMessageBox(ValidationMessageBoxFn fn) noexcept;

class CDrvStateUtility {
public:
    explicit CDrvStateUtility(CDrvState* state) noexcept;
    virtual ~CDrvStateUtility() = default;
    bool IsValid() const noexcept { return m_valid; }

protected:
    bool m_valid;
    CDrvState* m_state;
    CBaseSoup* m_soup;
};

class CValidationUtility : public CDrvStateUtility {
public:
    // module: where the confirmation texts are loaded from (null: the process's module).
    CValidationUtility(CDrvState* state, OptionForest* keyForest, ConstraintForest* constraints,
                       HMODULE module) noexcept;
    ~CValidationUtility() override = default;

    // Resolves the changes; asks the user to confirm further changes (applying both on OK)
    // or tells why the selection cannot be made. Returns the further (or conflicting)
    // settings; empty when the changes were consistent by themselves.
    KVCache ResolveChanges(const KVCache* changed, HWND owner);

    // A text of the language module by id, accepted only when its conversions are those of
    // the built-in text (a bad translation must not drive the formatting); else the built-in.
    void LoadText(UINT id, const wchar_t* builtIn, wchar_t* out, unsigned size) const noexcept;

    // While a message box is open the caller's hold of the PPD's settings (*held, acquired for
    // ppdPath) is given back, so that other threads of the process that need the same PPD do
    // not wait for the user; it is taken again when the box closes (*held may then differ).
    void ReleaseHoldDuringMessages(const wchar_t* ppdPath, CfgSettings** held) noexcept;

private:
    bool ConfirmAndApply(const KVCache* changed, const KVCache& result, HWND owner);
    void Refuse(const KVCache& result, HWND owner);
    int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

    const wchar_t* m_holdPath = nullptr;
    CfgSettings** m_held = nullptr;

    ConstraintForest* m_constraints;
    OptionForest* m_keyForest;
    HMODULE m_module;
};

// True when format's conversions (%s, %d, ... in order; "%%" is no conversion) are exactly
// those of reference.
bool FormatConversionsMatch(const wchar_t* format, const wchar_t* reference) noexcept;

// Validates changed settings of a sheet's driver state against the compiled settings of its
// PPD (constraint section 11). True when nothing further had to change.
bool ValidateChangedSettings(CDrvState* state, const wchar_t* ppdPath, HMODULE module, const KVCache* changed,
                             HWND owner) noexcept;

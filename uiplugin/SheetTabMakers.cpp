// The tabs of the property sheets, slot by slot, and the confirm-installables box: where each
// tab's class plugs in. A slot without its own class makes a plain page with its template.
#include "uiplugin/PropSheets.h"

#include "sheets/AboutDriverTab.h"
#include "sheets/DocDriverTab.h"
#include "sheets/InsOptDriverTab.h"
#include "sheets/MessageBox.h"
#include "sheets/PSDriverTab.h"

const TabMaker kDefaultTabMakers[kTabCount] = {
    MakePlainDriverTab,  // kTabJobSettings (101)
    CPSDriverTab::Make,   // kTabPostScript (1010)
    CDocDriverTab::Make,  // kTabDocument (1271)
    CAboutDriverTab::Make,  // kTabAbout (1280)
    CInsOptDriverTab::Make,  // kTabInstallable (1127)
};

const ConfirmInstallablesFn kDefaultConfirmInstallables = ShowConfirmInstallables;

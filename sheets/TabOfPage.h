// The tab of a page window: the data its PageProc layer keeps on the page's subclass chain.
#pragma once

#include <windows.h>

#include "sheets/BaseDriverTab.h"
#include "sheets/SubclassLayer.h"

// Null for a window that is no page of a tab.
inline CBaseDriverTab* DriverTabOfPage(HWND page)
{
    // PageProc returns INT_PTR and the chain keeps WNDPROCs (LRESULT): the same shape, a
    // different type on x86.
    WNDPROC procedure = reinterpret_cast<WNDPROC>(reinterpret_cast<void (*)()>(&CBaseDriverTab::PageProc));
    return page ? static_cast<CBaseDriverTab*>(GetSubclassData(page, procedure)) : nullptr;
}

// The core printer driver's plug-in interfaces and structures that MinGW-w64 does not
// ship: our one platform header for them. Written from the published interface
// documentation; later parts of the system extend it with the plug-in interfaces.
#pragma once

#include <windows.h>

// Device-mode request modes passed to a plug-in's DevMode method.
#ifndef OEMDM_SIZE
#define OEMDM_SIZE 1
#define OEMDM_DEFAULT 2
#define OEMDM_CONVERT 3
#define OEMDM_MERGE 4
#endif

// The parameters of a DevMode request. pOEMDMIn/pOEMDMOut point at the plug-in's
// private block; cbBufSize is the output buffer's size on input and, for OEMDM_SIZE,
// the size the plug-in needs on output.
typedef struct _OEMDMPARAM {
    DWORD cbSize;
    PVOID pdriverobj;
    HANDLE hPrinter;
    HANDLE hModule;
    PDEVMODEW pPublicDMIn;
    PDEVMODEW pPublicDMOut;
    PVOID pOEMDMIn;
    PVOID pOEMDMOut;
    DWORD cbBufSize;
} OEMDMPARAM, *POEMDMPARAM;

// The header every plug-in's private device-mode block starts with.
typedef struct _OEM_DMEXTRAHEADER {
    DWORD dwSize;
    DWORD dwSignature;
    DWORD dwVersion;
} OEM_DMEXTRAHEADER, *POEM_DMEXTRAHEADER;

// ---------------------------------------------------------------------------------------
// User-interface plug-in interfaces: the core driver's IPrintCoreUI2 that a plug-in calls,
// and IPrintOemCommon > IPrintOemUI > IPrintOemUI2 that a plug-in implements. The core
// driver calls by slot, so the order of the methods below is the published vtable order.
// ---------------------------------------------------------------------------------------

#include <unknwn.h>
#include <compstui.h>

// The published class ids of a driver's UI and rendering plug-ins.
inline constexpr CLSID CLSID_OEMUI = {0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
inline constexpr CLSID CLSID_OEMRENDER = {0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
inline constexpr IID IID_IPrintOemUI = {0xC6A7A9D0, 0x774C, 0x11D1, {0x94, 0x7F, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};
inline constexpr IID IID_IPrintOemUI2 = {0x292515F9, 0xB54B, 0x489B, {0x92, 0x75, 0xBA, 0xB5, 0x68, 0x21, 0x39, 0x5E}};
inline constexpr IID IID_IPrintCoreUI2 = {0x085CCFCA, 0x3ADF, 0x4C9E, {0xB4, 0x91, 0xD8, 0x51, 0xA6, 0xED, 0xC9, 0x97}};

// GetInfo modes.
#ifndef OEMGI_GETSIGNATURE
#define OEMGI_GETSIGNATURE 1
#define OEMGI_GETINTERFACEVERSION 2
#define OEMGI_GETVERSION 3
#define OEMGI_GETPUBLISHERINFO 4
#endif

// HideStandardUI modes.
#ifndef OEMCUIP_DOCPROP
#define OEMCUIP_DOCPROP 1
#define OEMCUIP_PRNPROP 2
#endif

// SetOptions flags and results.
#ifndef SETOPTIONS_FLAG_RESOLVE_CONFLICT
#define SETOPTIONS_FLAG_RESOLVE_CONFLICT 0x00000001
#define SETOPTIONS_FLAG_KEEP_CONFLICT 0x00000002
#define SETOPTIONS_RESULT_NO_CONFLICT 0
#define SETOPTIONS_RESULT_CONFLICT_RESOLVED 1
#define SETOPTIONS_RESULT_CONFLICT_REMAINED 2
#endif

// The core driver's helper callbacks a plug-in may use through its OEMUIOBJ.
typedef BOOL(APIENTRY* PFN_DrvGetDriverSetting)(PVOID pdriverobj, PCSTR Feature, PVOID pOutput, DWORD cbSize,
                                                PDWORD pcbNeeded, PDWORD pdwOptionsReturned);
typedef BOOL(APIENTRY* PFN_DrvUpdateUISetting)(PVOID pdriverobj, PVOID pOptItem, DWORD dwPreviousSelection,
                                               DWORD dwMode);

typedef struct _OEMUIPROCS {
    PFN_DrvGetDriverSetting DrvGetDriverSetting;
    PFN_DrvUpdateUISetting DrvUpdateUISetting;
} OEMUIPROCS, *POEMUIPROCS;

// The context object the core driver passes to the plug-in and back to its own methods.
typedef struct _OEMUIOBJ {
    DWORD cbSize;
    POEMUIPROCS pOemUIProcs;
} OEMUIOBJ, *POEMUIOBJ;
static_assert(sizeof(OEMUIOBJ) == 2 * sizeof(void*), "OEMUIOBJ is a size and one pointer");

// Structures passed through methods this system answers with E_NOTIMPL: opaque here.
struct _OEMCUIPPARAM;
typedef struct _OEMCUIPPARAM* POEMCUIPPARAM;
struct _DEVQUERYPRINT_INFO;
typedef struct _DEVQUERYPRINT_INFO* PDEVQUERYPRINT_INFO;

// The core driver's own driver-setting methods (the base of IPrintCoreUI2).
struct IPrintOemDriverUI : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID pci, PCSTR Feature, PVOID pOutput, DWORD cbSize,
                                                          PDWORD pcbNeeded, PDWORD pdwOptionsReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvUpgradeRegistrySetting(HANDLE hPrinter, PCSTR pFeature, PCSTR pOption) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvUpdateUISetting(PVOID pci, PVOID pOptItem, DWORD dwPreviousSelection,
                                                         DWORD dwMode) = 0;
};

// The PostScript core driver's UI services. Feature/option lists are MULTI_SZ texts of
// keyword pairs ("Feature\0Option\0...\0").
struct IPrintCoreUI2 : public IPrintOemDriverUI {
    virtual HRESULT STDMETHODCALLTYPE GetOptions(POEMUIOBJ poemuiobj, DWORD dwFlags, PCSTR pmszFeaturesRequested,
                                                 DWORD cbIn, PSTR pmszFeatureOptionBuf, DWORD cbSize,
                                                 PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOptions(POEMUIOBJ poemuiobj, DWORD dwFlags, PCSTR pmszFeatureOptionBuf,
                                                 DWORD cbIn, PDWORD pdwResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumConstrainedOptions(POEMUIOBJ poemuiobj, DWORD dwFlags,
                                                             PCSTR pszFeatureKeyword, PSTR pmszConstrainedOptionList,
                                                             DWORD cbSize, PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE WhyConstrained(POEMUIOBJ poemuiobj, DWORD dwFlags, PCSTR pszFeatureKeyword,
                                                     PCSTR pszOptionKeyword, PSTR pmszReasonList, DWORD cbSize,
                                                     PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGlobalAttribute(POEMUIOBJ poemuiobj, DWORD dwFlags, PCSTR pszAttribute,
                                                         PDWORD pdwDataType, PBYTE pbData, DWORD cbSize,
                                                         PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFeatureAttribute(POEMUIOBJ poemuiobj, DWORD dwFlags, PCSTR pszFeatureKeyword,
                                                          PCSTR pszAttribute, PDWORD pdwDataType, PBYTE pbData,
                                                          DWORD cbSize, PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOptionAttribute(POEMUIOBJ poemuiobj, DWORD dwFlags, PCSTR pszFeatureKeyword,
                                                         PCSTR pszOptionKeyword, PCSTR pszAttribute,
                                                         PDWORD pdwDataType, PBYTE pbData, DWORD cbSize,
                                                         PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumFeatures(POEMUIOBJ poemuiobj, DWORD dwFlags, PSTR pmszFeatureList,
                                                   DWORD cbSize, PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumOptions(POEMUIOBJ poemuiobj, DWORD dwFlags, PCSTR pszFeatureKeyword,
                                                  PSTR pmszOptionList, DWORD cbSize, PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFontSubstitution(POEMUIOBJ poemuiobj, DWORD dwFlags,
                                                          PCWSTR pszTrueTypeFontName, PWSTR pszDevFontName,
                                                          DWORD cbSize, PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFontSubstitution(POEMUIOBJ poemuiobj, DWORD dwFlags,
                                                          PCWSTR pszTrueTypeFontName, PCWSTR pszDevFontName) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateInstanceOfMSXMLParser(DWORD dwFlags, REFIID riid, LPVOID* ppvObject) = 0;
    // Appended by later core drivers; a plug-in written for the earlier table never calls it.
    virtual HRESULT STDMETHODCALLTYPE QuerySimulationSupport(HANDLE hPrinter, DWORD dwLevel, PBYTE pCaps, DWORD cbSize,
                                                             PDWORD pcbNeeded) = 0;
};

// The methods every plug-in answers (UI and rendering).
struct IPrintOemCommon : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInfo(DWORD dwMode, PVOID pBuffer, DWORD cbSize, PDWORD pcbNeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevMode(DWORD dwMode, POEMDMPARAM pOemDMParam) = 0;
};

// A UI plug-in.
struct IPrintOemUI : public IPrintOemCommon {
    virtual HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown* pIUnknown) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommonUIProp(DWORD dwMode, POEMCUIPPARAM pOemCUIPParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE DocumentPropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevicePropertySheets(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE DevQueryPrintEx(POEMUIOBJ poemuiobj, PDEVQUERYPRINT_INFO pDQPInfo,
                                                      PDEVMODEW pPublicDM, PVOID pOEMDM) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeviceCapabilities(POEMUIOBJ poemuiobj, HANDLE hPrinter, PWSTR pDeviceName,
                                                         WORD wCapability, PVOID pOutput, PDEVMODEW pPublicDM,
                                                         PVOID pOEMDM, DWORD dwOld, DWORD* dwResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpgradePrinter(DWORD dwLevel, PBYTE pDriverUpgradeInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE PrinterEvent(PWSTR pPrinterName, INT iDriverEvent, DWORD dwFlags,
                                                   LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE DriverEvent(DWORD dwDriverEvent, DWORD dwLevel, LPBYTE pDriverInfo,
                                                  LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryColorProfile(HANDLE hPrinter, POEMUIOBJ poemuiobj, PDEVMODEW pPublicDM,
                                                        PVOID pOEMDM, ULONG ulQueryMode, VOID* pvProfileData,
                                                        ULONG* pcbProfileData, FLONG* pflProfileData) = 0;
    virtual HRESULT STDMETHODCALLTYPE FontInstallerDlgProc(HWND hWnd, UINT usMsg, WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateExternalFonts(HANDLE hPrinter, HANDLE hHeap, PWSTR pwstrCartridges) = 0;
};

// A UI plug-in of the later interface version.
struct IPrintOemUI2 : public IPrintOemUI {
    virtual HRESULT STDMETHODCALLTYPE QueryJobAttributes(HANDLE hPrinter, PDEVMODEW pDevmode, DWORD dwLevel,
                                                         LPBYTE lpAttributeInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE HideStandardUI(DWORD dwMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE DocumentEvent(HANDLE hPrinter, HDC hdc, INT iEsc, ULONG cbIn, PVOID pvIn,
                                                    ULONG cbOut, PVOID pvOut, INT* piResult) = 0;
};

// ---------------------------------------------------------------------------------------
// Rendering plug-in interfaces of the PostScript core driver: IPrintOemCommon >
// IPrintOemEngine > IPrintOemPS that a plug-in implements, and IPrintOemDriverPS that the
// core driver hands over. The core driver calls by slot: published vtable order.
// ---------------------------------------------------------------------------------------

// The graphics-engine structures the plug-in interfaces pass. MinGW-w64's winddi.h cannot be
// included here (it needs DirectDraw driver headers that are not shipped), so the published
// structures a rendering plug-in touches are declared here; the others stay opaque.
DECLARE_HANDLE(HSURF);
DECLARE_HANDLE(DHSURF);
DECLARE_HANDLE(DHPDEV);
DECLARE_HANDLE(HDEV);
typedef LONG_PTR(APIENTRY* PFN)();
typedef struct _DRVFN {
    ULONG iFunc;
    PFN pfn;
} DRVFN, *PDRVFN;
typedef struct _DRVENABLEDATA {
    ULONG iDriverVersion;
    ULONG c;
    DRVFN* pdrvfn;
} DRVENABLEDATA, *PDRVENABLEDATA;
struct _GDIINFO;
typedef struct _GDIINFO GDIINFO;

// The device capabilities the engine asks of a driver; a plug-in may add flags.
typedef struct _DEVINFO {
    FLONG flGraphicsCaps;
    LOGFONTW lfDefaultFont;
    LOGFONTW lfAnsiVarFont;
    LOGFONTW lfAnsiFixFont;
    ULONG cFonts;
    ULONG iDitherFormat;
    USHORT cxDither;
    USHORT cyDither;
    HPALETTE hpalDefault;
    FLONG flGraphicsCaps2;
} DEVINFO, *PDEVINFO;
#ifndef GCAPS_DONTJOURNAL
#define GCAPS_DONTJOURNAL 0x00002000
#endif

// A drawing surface; dhpdev is the PDEV of the driver that owns it, for the PostScript core
// driver a pointer to its DEVOBJ.
typedef struct _SURFOBJ {
    DHSURF dhsurf;
    HSURF hsurf;
    DHPDEV dhpdev;
    HDEV hdev;
    SIZEL sizlBitmap;
    ULONG cjBits;
    PVOID pvBits;
    PVOID pvScan0;
    LONG lDelta;
    ULONG iUniq;
    ULONG iBitmapFormat;
    USHORT iType;
    USHORT fjBitmap;
} SURFOBJ;

// Engine objects a rendering plug-in only passes on.
typedef struct _CLIPOBJ CLIPOBJ;
typedef struct _XLATEOBJ XLATEOBJ;
typedef struct _BRUSHOBJ BRUSHOBJ;
typedef struct _BLENDOBJ BLENDOBJ;
typedef struct _STROBJ STROBJ;
typedef struct _FONTOBJ FONTOBJ;
typedef struct _PATHOBJ PATHOBJ;
typedef struct _XFORMOBJ XFORMOBJ;
typedef struct _LINEATTRS LINEATTRS;
typedef struct _GLYPHDATA GLYPHDATA;
typedef struct _IFIMETRICS IFIMETRICS;
typedef IFIMETRICS* PIFIMETRICS;
typedef struct _POINTFIX {
    LONG x;
    LONG y;
} POINTFIX;
typedef ULONG ROP4;
typedef ULONG MIX;
typedef ULONG HGLYPH;

// The graphics-engine entry points (DDI) that a PostScript rendering plug-in may hook, in the
// order of the plug-in's hook table: X(name, DDI index, result, (parameters), (arguments),
// the argument that leads to the PDEV: a surface or the driver's PDEV handle).
#define TOLVA_DDI_HOOKS(X)                                                                                          \
    X(DrvBitBlt, 18, BOOL,                                                                                          \
      (SURFOBJ * psoTrg, SURFOBJ * psoSrc, SURFOBJ * psoMask, CLIPOBJ * pco, XLATEOBJ * pxlo, RECTL * prclTrg,      \
       POINTL * pptlSrc, POINTL * pptlMask, BRUSHOBJ * pbo, POINTL * pptlBrush, ROP4 rop4),                         \
      (psoTrg, psoSrc, psoMask, pco, pxlo, prclTrg, pptlSrc, pptlMask, pbo, pptlBrush, rop4), psoTrg)               \
    X(DrvRealizeBrush, 12, BOOL,                                                                                    \
      (BRUSHOBJ * pbo, SURFOBJ * psoTarget, SURFOBJ * psoPattern, SURFOBJ * psoMask, XLATEOBJ * pxlo,               \
       ULONG iHatch),                                                                                               \
      (pbo, psoTarget, psoPattern, psoMask, pxlo, iHatch), psoTarget)                                               \
    X(DrvCopyBits, 19, BOOL,                                                                                        \
      (SURFOBJ * psoDest, SURFOBJ * psoSrc, CLIPOBJ * pco, XLATEOBJ * pxlo, RECTL * prclDest, POINTL * pptlSrc),    \
      (psoDest, psoSrc, pco, pxlo, prclDest, pptlSrc), psoDest)                                                     \
    X(DrvStretchBlt, 20, BOOL,                                                                                      \
      (SURFOBJ * psoDest, SURFOBJ * psoSrc, SURFOBJ * psoMask, CLIPOBJ * pco, XLATEOBJ * pxlo,                      \
       COLORADJUSTMENT * pca, POINTL * pptlHTOrg, RECTL * prclDest, RECTL * prclSrc, POINTL * pptlMask,             \
       ULONG iMode),                                                                                                \
      (psoDest, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest, prclSrc, pptlMask, iMode), psoDest)           \
    X(DrvStretchBltROP, 69, BOOL,                                                                                   \
      (SURFOBJ * psoDest, SURFOBJ * psoSrc, SURFOBJ * psoMask, CLIPOBJ * pco, XLATEOBJ * pxlo,                      \
       COLORADJUSTMENT * pca, POINTL * pptlHTOrg, RECTL * prclDest, RECTL * prclSrc, POINTL * pptlMask,             \
       ULONG iMode, BRUSHOBJ * pbo, DWORD rop4),                                                                    \
      (psoDest, psoSrc, psoMask, pco, pxlo, pca, pptlHTOrg, prclDest, prclSrc, pptlMask, iMode, pbo, rop4),         \
      psoDest)                                                                                                      \
    X(DrvPlgBlt, 70, BOOL,                                                                                          \
      (SURFOBJ * psoTrg, SURFOBJ * psoSrc, SURFOBJ * psoMsk, CLIPOBJ * pco, XLATEOBJ * pxlo, COLORADJUSTMENT * pca, \
       POINTL * pptlBrushOrg, POINTFIX * pptfx, RECTL * prcl, POINTL * pptl, ULONG iMode),                          \
      (psoTrg, psoSrc, psoMsk, pco, pxlo, pca, pptlBrushOrg, pptfx, prcl, pptl, iMode), psoTrg)                     \
    X(DrvTransparentBlt, 74, BOOL,                                                                                  \
      (SURFOBJ * psoDst, SURFOBJ * psoSrc, CLIPOBJ * pco, XLATEOBJ * pxlo, RECTL * prclDst, RECTL * prclSrc,        \
       ULONG iTransColor, ULONG ulReserved),                                                                        \
      (psoDst, psoSrc, pco, pxlo, prclDst, prclSrc, iTransColor, ulReserved), psoDst)                               \
    X(DrvAlphaBlend, 71, BOOL,                                                                                      \
      (SURFOBJ * psoDest, SURFOBJ * psoSrc, CLIPOBJ * pco, XLATEOBJ * pxlo, RECTL * prclDest, RECTL * prclSrc,      \
       BLENDOBJ * pBlendObj),                                                                                       \
      (psoDest, psoSrc, pco, pxlo, prclDest, prclSrc, pBlendObj), psoDest)                                          \
    X(DrvGradientFill, 68, BOOL,                                                                                    \
      (SURFOBJ * psoDest, CLIPOBJ * pco, XLATEOBJ * pxlo, TRIVERTEX * pVertex, ULONG nVertex, PVOID pMesh,          \
       ULONG nMesh, RECTL * prclExtents, POINTL * pptlDitherOrg, ULONG ulMode),                                     \
      (psoDest, pco, pxlo, pVertex, nVertex, pMesh, nMesh, prclExtents, pptlDitherOrg, ulMode), psoDest)            \
    X(DrvTextOut, 23, BOOL,                                                                                         \
      (SURFOBJ * pso, STROBJ * pstro, FONTOBJ * pfo, CLIPOBJ * pco, RECTL * prclExtra, RECTL * prclOpaque,          \
       BRUSHOBJ * pboFore, BRUSHOBJ * pboOpaque, POINTL * pptlOrg, MIX mix),                                        \
      (pso, pstro, pfo, pco, prclExtra, prclOpaque, pboFore, pboOpaque, pptlOrg, mix), pso)                         \
    X(DrvStrokePath, 14, BOOL,                                                                                      \
      (SURFOBJ * pso, PATHOBJ * ppo, CLIPOBJ * pco, XFORMOBJ * pxo, BRUSHOBJ * pbo, POINTL * pptlBrushOrg,          \
       LINEATTRS * plineattrs, MIX mix),                                                                            \
      (pso, ppo, pco, pxo, pbo, pptlBrushOrg, plineattrs, mix), pso)                                                \
    X(DrvFillPath, 15, BOOL,                                                                                        \
      (SURFOBJ * pso, PATHOBJ * ppo, CLIPOBJ * pco, BRUSHOBJ * pbo, POINTL * pptlBrushOrg, MIX mix,                 \
       FLONG flOptions),                                                                                            \
      (pso, ppo, pco, pbo, pptlBrushOrg, mix, flOptions), pso)                                                      \
    X(DrvStrokeAndFillPath, 16, BOOL,                                                                               \
      (SURFOBJ * pso, PATHOBJ * ppo, CLIPOBJ * pco, XFORMOBJ * pxo, BRUSHOBJ * pboStroke, LINEATTRS * plineattrs,    \
       BRUSHOBJ * pboFill, POINTL * pptlBrushOrg, MIX mixFill, FLONG flOptions),                                    \
      (pso, ppo, pco, pxo, pboStroke, plineattrs, pboFill, pptlBrushOrg, mixFill, flOptions), pso)                  \
    X(DrvStartPage, 33, BOOL, (SURFOBJ * pso), (pso), pso)                                                          \
    X(DrvSendPage, 32, BOOL, (SURFOBJ * pso), (pso), pso)                                                           \
    X(DrvEscape, 24, ULONG,                                                                                         \
      (SURFOBJ * pso, ULONG iEsc, ULONG cjIn, PVOID pvIn, ULONG cjOut, PVOID pvOut),                                \
      (pso, iEsc, cjIn, pvIn, cjOut, pvOut), pso)                                                                   \
    X(DrvStartDoc, 35, BOOL, (SURFOBJ * pso, LPWSTR pwszDocName, DWORD dwJobId), (pso, pwszDocName, dwJobId), pso)  \
    X(DrvEndDoc, 34, BOOL, (SURFOBJ * pso, FLONG fl), (pso, fl), pso)                                               \
    X(DrvQueryFont, 26, PIFIMETRICS, (DHPDEV dhpdev, ULONG_PTR iFile, ULONG iFace, ULONG_PTR * pid),                \
      (dhpdev, iFile, iFace, pid), dhpdev)                                                                          \
    X(DrvQueryFontTree, 27, PVOID, (DHPDEV dhpdev, ULONG_PTR iFile, ULONG iFace, ULONG iMode, ULONG_PTR * pid),     \
      (dhpdev, iFile, iFace, iMode, pid), dhpdev)                                                                   \
    X(DrvQueryFontData, 28, LONG,                                                                                   \
      (DHPDEV dhpdev, FONTOBJ * pfo, ULONG iMode, HGLYPH hg, GLYPHDATA * pgd, PVOID pv, ULONG cjSize),              \
      (dhpdev, pfo, iMode, hg, pgd, pv, cjSize), dhpdev)                                                            \
    X(DrvQueryAdvanceWidths, 53, BOOL,                                                                              \
      (DHPDEV dhpdev, FONTOBJ * pfo, ULONG iMode, HGLYPH * phg, PVOID pvWidths, ULONG cGlyphs),                     \
      (dhpdev, pfo, iMode, phg, pvWidths, cGlyphs), dhpdev)                                                         \
    X(DrvFontManagement, 47, ULONG,                                                                                 \
      (SURFOBJ * pso, FONTOBJ * pfo, ULONG iMode, ULONG cjIn, PVOID pvIn, ULONG cjOut, PVOID pvOut),                \
      (pso, pfo, iMode, cjIn, pvIn, cjOut, pvOut), pso)                                                             \
    X(DrvGetGlyphMode, 37, ULONG, (DHPDEV dhpdev, FONTOBJ * pfo), (dhpdev, pfo), dhpdev)                            \
    X(DrvIcmCreateColorTransform, 64, HANDLE,                                                                       \
      (DHPDEV dhpdev, LPLOGCOLORSPACEW pLogColorSpace, PVOID pvSourceProfile, ULONG cjSourceProfile,                \
       PVOID pvDestProfile, ULONG cjDestProfile, PVOID pvTargetProfile, ULONG cjTargetProfile, DWORD dwReserved),   \
      (dhpdev, pLogColorSpace, pvSourceProfile, cjSourceProfile, pvDestProfile, cjDestProfile, pvTargetProfile,     \
       cjTargetProfile, dwReserved),                                                                                \
      dhpdev)                                                                                                       \
    X(DrvIcmDeleteColorTransform, 65, BOOL, (DHPDEV dhpdev, HANDLE hcmXform), (dhpdev, hcmXform), dhpdev)           \
    X(DrvQueryDeviceSupport, 76, BOOL,                                                                              \
      (SURFOBJ * pso, XLATEOBJ * pxlo, XFORMOBJ * pxo, ULONG iType, ULONG cjIn, PVOID pvIn, ULONG cjOut,            \
       PVOID pvOut),                                                                                                \
      (pso, pxlo, pxo, iType, cjIn, pvIn, cjOut, pvOut), pso)

// The pointer type of each hooked entry point: PFN_DrvBitBlt and so on.
#define TOLVA_DDI_PFN_TYPEDEF(name, index, result, params, args, locator) typedef result(APIENTRY* PFN_##name) params;
TOLVA_DDI_HOOKS(TOLVA_DDI_PFN_TYPEDEF)
#undef TOLVA_DDI_PFN_TYPEDEF

// The DDI indexes of the hooked entry points: INDEX_DrvBitBlt and so on.
#define TOLVA_DDI_INDEX(name, index, result, params, args, locator) inline constexpr ULONG INDEX_##name = index;
TOLVA_DDI_HOOKS(TOLVA_DDI_INDEX)
#undef TOLVA_DDI_INDEX

// The version a plug-in reports in its DRVENABLEDATA.
inline constexpr ULONG kPrinterOemEngineVersion = 0x10000;

inline constexpr IID IID_IPrintOemPS = {0x688342B5, 0x8E1A, 0x11D1, {0x88, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
inline constexpr IID IID_IPrintOemDriverPS = {0xD90060C7, 0x8E1A, 0x11D1, {0x88, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

// The core driver's per-device-context object as a plug-in sees it. The core driver's PDEV
// (a surface's dhpdev) starts with it; pdevOEM is the plug-in's own PDEV, opaque to the core.
typedef PVOID PDEVOEM;
typedef struct _DEVOBJ {
    DWORD dwSize;
    PDEVOEM pdevOEM;
    HANDLE hEngine;
    HANDLE hPrinter;
    HANDLE hOEM;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    PVOID pDrvProcs;
} DEVOBJ, *PDEVOBJ;

// The graphics-engine methods shared by the rendering plug-ins of both core drivers.
struct IPrintOemEngine : public IPrintOemCommon {
    virtual HRESULT STDMETHODCALLTYPE EnableDriver(DWORD DriverVersion, DWORD cbSize, PDRVENABLEDATA pded) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisableDriver() = 0;
    virtual HRESULT STDMETHODCALLTYPE EnablePDEV(PDEVOBJ pdevobj, PWSTR pPrinterName, ULONG cPatterns,
                                                 HSURF* phsurfPatterns, ULONG cjGdiInfo, GDIINFO* pGdiInfo,
                                                 ULONG cjDevInfo, DEVINFO* pDevInfo, DRVENABLEDATA* pded,
                                                 PDEVOEM* pDevOem) = 0;
    virtual HRESULT STDMETHODCALLTYPE DisablePDEV(PDEVOBJ pdevobj) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetPDEV(PDEVOBJ pdevobjOld, PDEVOBJ pdevobjNew) = 0;
};

// A rendering plug-in of the PostScript core driver.
struct IPrintOemPS : public IPrintOemEngine {
    virtual HRESULT STDMETHODCALLTYPE PublishDriverInterface(IUnknown* pIUnknown) = 0;
    virtual HRESULT STDMETHODCALLTYPE Command(PDEVOBJ pdevobj, DWORD dwIndex, PVOID pData, DWORD cbSize,
                                             DWORD* pdwResult) = 0;
};

// The PostScript core driver's services to a rendering plug-in.
struct IPrintOemDriverPS : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID pdriverobj, PCSTR Feature, PVOID pOutput,
                                                          DWORD cbSize, PDWORD pcbNeeded,
                                                          PDWORD pdwOptionsReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE DrvWriteSpoolBuf(PDEVOBJ pdevobj, PVOID pBuffer, DWORD cbSize,
                                                       DWORD* pdwResult) = 0;
};

// ---------------------------------------------------------------------------------------
// Property sheets: the record the core driver hands a UI plug-in's sheet calls, and what
// compstui needs beyond MinGW's header.

// The plug-in's view of one sheet: lParamInit of the PROPSHEETUI_INFO it is called with.
typedef struct _OEMUIPSPARAM {
    DWORD cbSize;
    POEMUIOBJ poemuiobj;
    HANDLE hPrinter;
    PWSTR pPrinterName;
    HANDLE hModule;
    HANDLE hOEMHeap;
    PDEVMODEW pPublicDM;
    PVOID pOEMDM;
    PVOID pOEMUserData;
    DWORD dwFlags;
    PVOID pOemEntry;
} OEMUIPSPARAM, *POEMUIPSPARAM;
#ifdef _WIN64
static_assert(sizeof(OEMUIPSPARAM) == 88, "OEMUIPSPARAM x64 layout");
#else
static_assert(sizeof(OEMUIPSPARAM) == 44, "OEMUIPSPARAM x86 layout");
#endif

// dwFlags of OEMUIPSPARAM: the sheet edits the printer's default settings (preferences).
#ifndef DM_USER_DEFAULT
#define DM_USER_DEFAULT 0x00000040
#endif

// compstui's first call of a sheet function, before PROPSHEETUI_REASON_INIT (Version 0).
#ifndef PROPSHEETUI_REASON_BEFORE_INIT
#define PROPSHEETUI_REASON_BEFORE_INIT 5
#endif

// A sheet function as compstui calls it: stdcall on i686 (MinGW's PFNPROPSHEETUI is cdecl).
typedef LONG_PTR(APIENTRY* PFNPROPSHEETUI_API)(PPROPSHEETUI_INFO pPSUIInfo, LPARAM lParam);
// CommonPropertySheetUIW, bound by name (i686 MinGW has no import library for compstui).
typedef LONG(APIENTRY* PFNCOMMONPROPERTYSHEETUIW)(HWND hWndOwner, PFNPROPSHEETUI_API pfnPropSheetUI, LPARAM lParam,
                                                  LPDWORD pResult);

// Extended dialog templates (the fixed parts; the variable parts follow as the dialog manager
// defines them). Layout is 2-byte packed like DLGTEMPLATE.
// ---------------------------------------------------------------------------------------
#pragma pack(push, 2)
typedef struct {
    WORD dlgVer;     // 1
    WORD signature;  // 0xFFFF
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    WORD cDlgItems;
    short x;
    short y;
    short cx;
    short cy;
} DLGTEMPLATEEX;

typedef struct {
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    short x;
    short y;
    short cx;
    short cy;
    DWORD id;
} DLGITEMTEMPLATEEX;
#pragma pack(pop)
static_assert(sizeof(DLGTEMPLATEEX) == 26, "DLGTEMPLATEEX layout");
static_assert(sizeof(DLGITEMTEMPLATEEX) == 24, "DLGITEMTEMPLATEEX layout");
// ---------------------------------------------------------------------------------------

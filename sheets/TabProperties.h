// What every driver tab names the same way: the dialog layer of a page and the property ids of
// the keys and values the tabs read and write.
#pragma once

#include <windows.h>

#include "settings/PropertyNames.h"
#include "sheets/DataExchange.h"
#include "sheets/SubclassLayer.h"

// The page's dialog layer (null for a window that has none).
inline SubclassLayer* DialogLayerOf(HWND page) { return page ? FindSubclassLayer(page, DialogLayerProc) : nullptr; }

namespace tabprop {

// Values.
constexpr int kTrue = QV_PROP_TRUE;                   // "True"
constexpr int kFalse = QV_PROP_FALSE;                 // "False"
constexpr int kNone = QV_PROP_NONE;                   // "None"
constexpr int kYes = QV_PROP_YES;                     // "Yes"
constexpr int kNotAvailable = QV_PROP_NOTAVAILABLE;   // "NotAvailable"
constexpr int kPortrait = QV_PROP_PORT;               // "Portrait"
constexpr int kCustomPageSize = QV_PROP_CUSTOMPAGESIZE;  // "CustomPageSize"
constexpr int kSameAsPageSize = QV_PROP_SAMEASPAGESIZE;  // "SameAsPageSize"

// The page option key and its options (a page shows when its option lists "True").
constexpr int kPropPage = QV_PROP_VYRPROPPAGE;                    // *VYRPropPage
constexpr int kPagePostScript = QV_PROP_QVPPPOSTSCRIPT;           // QVPPPostscript
constexpr int kPageInstallable = QV_PROP_QVPPINSTALLABLEOPTIONS;  // QVPPInstallableOptions
constexpr int kPageDocument = QV_PROP_QVPPDOCSETTINGS;            // QVPPDocSettings
constexpr int kPageAbout = QV_PROP_QVPPABOUT;                     // QVPPAbout

// *VYRSpecialOption and the options the tabs test.
constexpr int kSpecialOption = QV_PROP_SPECIALOPTION;           // *VYRSpecialOption
constexpr int kDefaultBiDiOff = QV_PROP_DEFAULT_BIDI_STATE_OFF;  // *QVDefaultBiDiStateOff
constexpr int kBasicDriver = QV_PROP_BASIC_XPS_DRIVER;           // *QVIsBasicXPSDrvr

// Two-way keys.
constexpr int kTwoWay = QV_PROP_TWOWAYCOMM;           // *TwoWayComm
constexpr int kUpdate = QV_PROP_UPDATETOLVA;          // *UpdateTolva
constexpr int kEmail = QV_PROP_ENABLEEMAIL;           // *EnableEmail
constexpr int kEmailAddress = QV_PROP_EMAILADDR;      // *VYREmailAddress
constexpr int kIPAddress = QV_PROP_IDADDR;            // *VYRIPAddress
constexpr int kEmailReady = QV_PROP_BIDI_EMAILREADY;  // *BIDI_EmailReady
constexpr int kUpdated = QV_PROP_UPDATEDPROPS;        // *UpdatedProps

// Document keys.
constexpr int kPageSize = QV_PROP_PAGESIZE;              // *PageSize
constexpr int kPrintSize = QV_PROP_QVPRINTSIZE;          // *QVPrintSize
constexpr int kOrientation = QV_PROP_DMORIENTATION;      // *!dmOrientation
constexpr int kMirroring = QV_PROP_MIRRORING;            // *%Mirroring
constexpr int kNegative = QV_PROP_NEGATIVE;              // *%Negative
constexpr int kCustomSizeNote = QV_PROP_PSCUSTOMPAGESIZE;  // *%CustomPageSize
constexpr int kUserRotate = QV_PROP_QVUSERROTATE180;     // *QVUserRotate180

// PostScript keys.
constexpr int kOutputFormat = QV_PROP_PSOUTPUTFORMAT;   // *%OutputFormat
constexpr int kErrorHandler = QV_PROP_PSERRORHANDLER;   // *%PSErrorHandler
constexpr int kLevel = QV_PROP_PSLANGLEVEL;             // *%OutputPSLevel
constexpr int kDownload = QV_PROP_PSSENDTTAS;           // *%TTDownloadFormat
constexpr int kTrueType = QV_PROP_PSTTFONTSETTING;      // *!dmTTOption

// About keys.
constexpr int kVersion = QV_PROP_VERSION;         // *QVVersion
constexpr int kServerInfo = QV_PROP_QVSERVERINFO;  // *QVServerInfo
constexpr int kAboutURL = QV_PROP_QVABOUTURL;      // *QVAboutURL

}  // namespace tabprop

// Named bitmaps of the "Res.xml" picture description beside the driver's data file.
#pragma once

#include <windows.h>

// The id of the named bitmap in the data file's "Res.xml" (the path without the file name's
// extension, followed by "Res.xml": C:\drv\PRINTER.PPD gives C:\drv\PRINTERRes.xml, a dot in a
// folder name is kept): -1 when an argument is null or no bitmap has that name, 0 when the file
// cannot be loaded.
int GetBitmapIdFromResXml(const wchar_t* dataFile, const wchar_t* bitmapName);

// The about page's background: the id that "Res.xml" gives "IDB_ABOUT_FD", or 3640 when it
// gives none (-1) or no file (0), as a 16-bit resource id.
WORD GetAboutPictureId(const wchar_t* dataFile);

inline constexpr WORD kAboutPictureDefault = 3640;

// Helpers of the compiled-settings tests: scratch folders with copies of the fixture PPDs,
// a CfgSettings made directly over its own byte sources, and whole-file reads and writes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/CfgSettings.h"

namespace cfgtest {

// A fresh, empty folder below the test's build folder.
std::wstring ScratchDir(const std::wstring& name);
// The fixtures folder (..\shared\fixtures) and the folder of the test language module.
std::wstring FixturesDir();
std::wstring LanguageModuleDir();
// Copies a file; false on failure.
bool CopyInto(const std::wstring& from, const std::wstring& to);
std::vector<uint8_t> ReadAll(const std::wstring& path);
bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes);
// The path with another extension.
std::wstring Sibling(const std::wstring& path, const wchar_t* extension);
// Moves the file's modification time forward by seconds.
bool Touch(const std::wstring& path, int seconds);

// A CfgSettings over its own sources: the PPD, its ".PBJ" cache and, when a module path
// is given, its "IDR_PPDEXTENSIONS" resource.
struct Direct {
    explicit Direct(const std::wstring& ppd, const std::wstring& module = std::wstring());
    PPDParser::CFileIOPlugIn ppdSource;
    PPDParser::CFileIOPlugIn cacheSource;
    std::unique_ptr<PPDParser::CResIOPlugIn> extension;
    std::unique_ptr<CfgSettings> settings;
    CfgSettings* operator->() const { return settings.get(); }
};

// The default values of every key section, serialised (what a load must reproduce).
std::vector<uint8_t> DefaultsImage(CfgSettings* settings);
// All sections, concatenated with their sizes.
std::vector<uint8_t> SectionsImage(CfgSettings* settings);

uint32_t U32(const uint8_t* p);
uint16_t U16(const uint8_t* p);

}  // namespace cfgtest

namespace cfgtest {
// Writes narrow text as a file.
bool WriteText(const std::wstring& path, const std::string& text);
// A small PPD without private keys: *Duplex {None, DuplexNoTumble, DuplexTumble} and
// *InputSlot {Tray1, Envelope}, plus the given extra lines.
std::string DuplexPPD(const std::string& extra);
// Copies a fixture PPD into a scratch folder (with the language module when asked);
// returns the PPD's path there.
std::wstring StageFixture(const std::wstring& dir, const wchar_t* ppdName, bool withModule);
}  // namespace cfgtest

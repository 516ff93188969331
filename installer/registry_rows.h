// The registry a class's registry scripts write, turned into the rows of a
// Windows Installer package: the scripts run through the same engine the DLL
// runs in DllRegisterServer, against an in-memory registry, with the module
// path standing as a placeholder the installer fills in with the installed
// file's path.
#pragma once
#include "testing/registry_memory.h"

#include <string>
#include <vector>

// What the engine writes for %MODULE% while the scripts run; it becomes the
// installer's reference to the installed file.
constexpr char kModulePlaceholder[] = "VARO-MODULE-PATH";

// One registry entry as the package writes it: a value, or a key that has
// neither values nor subkeys of its own (created on install, removed on
// uninstall). strRoot is HKCR, HKCU, HKLM or HKU.
struct RegistryRow {
    std::string strRoot;
    std::string strKey;
    bool bKeyOnly = false;
    std::string strName;
    std::string strType;  // string, integer or binary
    std::string strValue; // text; decimal for integer; hex digits for binary
};

// Registers every script into registry. Empty on success, else what failed.
std::string ExpandScripts(const std::vector<std::string>& scripts, MemoryRegistry& registry);

// The rows that reproduce everything in registry; keys that have a value or
// a subkey come with those. Empty error on success, else what cannot be
// carried (text beyond ASCII, which the package builder cannot store, a
// string the installer would read as a number, a type it has no form for).
std::vector<RegistryRow> RowsOf(const MemoryRegistry& registry, std::string& strError);

// One WiX element for the row, the placeholder replaced by the reference to
// the file whose identifier is strFileId ([#id]), brackets of the text itself
// escaped as the installer's formatted text wants them.
std::string WixElement(const RegistryRow& row, const std::string& strFileId);

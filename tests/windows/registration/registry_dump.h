// Reads a subtree of the Windows registry into lines, sorted:
//   Key\Sub
//   Key\Sub [name] REG_SZ "text"   ([] is the default value)
//   Key\Sub [name] REG_DWORD 0x0000000a
//   Key\Sub [name] REG_BINARY 0a ff
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "registry_script_cases.h"

Lines DumpRegistry(HKEY hKey);

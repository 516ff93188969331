#include "registry_dump.h"

#include <algorithm>
#include <cstdio>

namespace {
void DumpKey(HKEY hKey, const std::string& strPath, Lines& lines) {
    if (!strPath.empty()) lines.push_back(strPath);
    std::string strPrefix = strPath.empty() ? "[" : strPath + " [";
    for (DWORD i = 0;; ++i) {
        char szName[16384];
        BYTE abData[8192];
        DWORD cchName = sizeof szName, cbData = sizeof abData, dwType = 0;
        if (RegEnumValueA(hKey, i, szName, &cchName, nullptr, &dwType, abData, &cbData) != ERROR_SUCCESS) break;
        std::string strLine = strPrefix + szName + "] ";
        if (dwType == REG_SZ) {
            std::string strText(reinterpret_cast<char*>(abData), cbData);
            if (!strText.empty() && strText.back() == '\0') strText.pop_back();
            else strText += "(unterminated)";
            strLine += "REG_SZ \"" + strText + "\"";
        } else if (dwType == REG_DWORD && cbData == 4) {
            char sz[16];
            std::snprintf(sz, sizeof sz, "0x%08lx", *reinterpret_cast<DWORD*>(abData));
            strLine += std::string("REG_DWORD ") + sz;
        } else {
            strLine += dwType == REG_BINARY ? "REG_BINARY" : "REG_OTHER";
            for (DWORD b = 0; b < cbData; ++b) {
                char sz[4];
                std::snprintf(sz, sizeof sz, " %02x", abData[b]);
                strLine += sz;
            }
        }
        lines.push_back(strLine);
    }
    for (DWORD i = 0;; ++i) {
        char szName[1024];
        DWORD cchName = sizeof szName;
        if (RegEnumKeyExA(hKey, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY hSub = nullptr;
        if (RegOpenKeyExA(hKey, szName, 0, KEY_READ, &hSub) != ERROR_SUCCESS) {
            lines.push_back(strPath + "\\" + szName + " (cannot open)");
            continue;
        }
        DumpKey(hSub, strPath.empty() ? szName : strPath + "\\" + szName, lines);
        RegCloseKey(hSub);
    }
}
}  // namespace

Lines DumpRegistry(HKEY hKey) {
    Lines lines;
    DumpKey(hKey, "", lines);
    return Sorted(lines);
}


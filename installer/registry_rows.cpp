#include "installer/registry_rows.h"

#include "registration/registry_script_engine.h"
#include "registration/replacement_map.h"

#include <cstdio>

namespace {
struct Root {
    HKEY hKey;
    const char* pszName;
};
const Root kRoots[] = {{HKEY_CLASSES_ROOT, "HKCR"},
                       {HKEY_CURRENT_USER, "HKCU"},
                       {HKEY_LOCAL_MACHINE, "HKLM"},
                       {HKEY_USERS, "HKU"}};

bool IsAscii(const std::string& text) {
    for (unsigned char ch : text)
        if (ch >= 0x80 || ch < 0x20) return false;
    return true;
}

std::string XmlAttribute(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += ch;
        }
    }
    return out;
}

// Formatted text: [ and ] open and close references, so literal ones are
// written [\[] and [\]]; the placeholder becomes the file's full path.
std::string Formatted(const std::string& text, const std::string& strFileId) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, sizeof kModulePlaceholder - 1, kModulePlaceholder) == 0) {
            out += "[#" + strFileId + "]";
            i += sizeof kModulePlaceholder - 1;
            continue;
        }
        if (text[i] == '[' || text[i] == ']') out += std::string("[\\") + text[i] + "]";
        else out += text[i];
        ++i;
    }
    return out;
}
}  // namespace

std::string ExpandScripts(const std::vector<std::string>& scripts, MemoryRegistry& registry) {
    ReplacementMap replacements;
    std::u16string module(kModulePlaceholder, kModulePlaceholder + sizeof kModulePlaceholder - 1);
    if (FAILED(replacements.Add(u"Module", module.c_str()))) return "out of memory";
    for (std::size_t i = 0; i < scripts.size(); ++i) {
        RegistryScriptEngine engine(registry, replacements);
        HRESULT hr = engine.RunScript(scripts[i].c_str(), true);
        if (FAILED(hr)) {
            char sz[64];
            std::snprintf(sz, sizeof sz, "script %zu failed: 0x%08x", i + 1, static_cast<unsigned>(hr));
            return sz;
        }
    }
    return "";
}

std::vector<RegistryRow> RowsOf(const MemoryRegistry& registry, std::string& strError) {
    std::vector<RegistryRow> rows;
    strError.clear();
    for (const Root& root : kRoots) {
        std::vector<MemoryRegistry::Entry> entries = registry.Entries(root.hKey);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const MemoryRegistry::Entry& entry = entries[i];
            std::string where = std::string(root.pszName) + "\\" + entry.strKey;
            if (!IsAscii(entry.strKey) || !IsAscii(entry.strName)) {
                strError = where + ": a name beyond printable ASCII";
                return {};
            }
            RegistryRow row;
            row.strRoot = root.pszName;
            row.strKey = entry.strKey;
            if (!entry.bValue) {
                // A key the rows below it do not create already.
                const bool bHasValues = i + 1 < entries.size() && entries[i + 1].bValue &&
                                        entries[i + 1].strKey == entry.strKey;
                if (bHasValues || entry.bHasSubkeys) continue;
                row.bKeyOnly = true;
                rows.push_back(row);
                continue;
            }
            row.strName = entry.strName;
            if (entry.dwType == REG_SZ) {
                if (entry.data.empty() || entry.data.back() != 0) {
                    strError = where + ": a string without its terminator";
                    return {};
                }
                row.strType = "string";
                row.strValue.assign(entry.data.begin(), entry.data.end() - 1);
                if (!IsAscii(row.strValue)) {
                    strError = where + ": text beyond printable ASCII";
                    return {};
                }
                // The installer reads #... as a number and an empty value
                // as no value at all.
                if (row.strValue.empty() || row.strValue[0] == '#') {
                    strError = where + ": a string the installer would not store as written";
                    return {};
                }
            } else if (entry.dwType == REG_DWORD && entry.data.size() == 4) {
                unsigned long ul = entry.data[0] | entry.data[1] << 8 | entry.data[2] << 16 |
                                   static_cast<unsigned long>(entry.data[3]) << 24;
                // The installer's integers are signed 32-bit.
                row.strType = "integer";
                row.strValue = std::to_string(static_cast<long>(static_cast<int>(ul)));
            } else if (entry.dwType == REG_BINARY) {
                row.strType = "binary";
                for (BYTE b : entry.data) {
                    char sz[3];
                    std::snprintf(sz, sizeof sz, "%02X", b);
                    row.strValue += sz;
                }
            } else {
                strError = where + ": a value type the package has no form for";
                return {};
            }
            rows.push_back(row);
        }
    }
    return rows;
}

std::string WixElement(const RegistryRow& row, const std::string& strFileId) {
    std::string out = "<RegistryValue Root=\"" + row.strRoot + "\" Key=\"" +
                      XmlAttribute(Formatted(row.strKey, strFileId)) + "\"";
    if (row.bKeyOnly) return out + " Name=\"*\" Type=\"string\" Value=\"\"/>";
    if (!row.strName.empty()) out += " Name=\"" + XmlAttribute(Formatted(row.strName, strFileId)) + "\"";
    std::string value = row.strType == "string" ? Formatted(row.strValue, strFileId) : row.strValue;
    return out + " Type=\"" + row.strType + "\" Value=\"" + XmlAttribute(value) + "\"/>";
}

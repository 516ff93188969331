#include "testing/registry_memory.h"

#include "platform/text_services.h"

#include <cstdio>
#include <cstring>

namespace {
constexpr int kMaxKeyNameChars = 255;

const HKEY kPredefinedKeys[] = {HKEY_CLASSES_ROOT,     HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE, HKEY_USERS,
                                HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};

// Splits a registry path at its backslashes, never at a double-byte
// character's second byte.
std::vector<std::string> SplitPath(const char* pszPath) {
    std::vector<std::string> parts(1);
    for (const char* p = pszPath; *p;) {
        const char* pNext = TextCharNext(p);
        if (*p == '\\') parts.emplace_back();
        else parts.back().append(p, pNext);
        p = pNext;
    }
    if (parts.size() == 1 && parts[0].empty()) parts.clear();
    return parts;
}

bool ValidKeyName(const std::string& strName) {
    if (strName.empty()) return false;
    int cch = 0;
    for (const char* p = strName.c_str(); *p; p = TextCharNext(p)) ++cch;
    return cch <= kMaxKeyNameChars;
}

bool SameName(const std::string& a, const char* b) { return TextCompareNoCase(a.c_str(), b) == 0; }

const char* TypeName(DWORD dwType) {
    switch (dwType) {
    case REG_SZ: return "REG_SZ";
    case REG_DWORD: return "REG_DWORD";
    case REG_BINARY: return "REG_BINARY";
    default: return "REG_OTHER";
    }
}
// An enumerated name into the caller's buffer, as RegEnumKeyExA and
// RegEnumValueA give it: room in, length without the terminator out.
LONG CopyEnumeratedName(const std::string& strName, char* pszName, DWORD* pcchName) {
    if (strName.size() + 1 > *pcchName) return ERROR_MORE_DATA;
    std::memcpy(pszName, strName.c_str(), strName.size() + 1);
    *pcchName = static_cast<DWORD>(strName.size());
    return ERROR_SUCCESS;
}
}  // namespace

MemoryRegistry::MemoryRegistry() {
    for (HKEY hKey : kPredefinedKeys) m_roots[hKey] = std::make_unique<Node>();
}

MemoryRegistry::~MemoryRegistry() = default;

LONG MemoryRegistry::Resolve(HKEY hKey, REGSAM samNeeded, Node** ppNode) const {
    auto root = m_roots.find(hKey);
    if (root != m_roots.end()) {
        *ppNode = root->second.get();
        return ERROR_SUCCESS;
    }
    auto handle = m_handles.find(hKey);
    if (handle == m_handles.end()) return ERROR_INVALID_HANDLE;
    if (handle->second.pNode->bDeleted) return ERROR_KEY_DELETED;
    if (samNeeded & ~handle->second.sam) return ERROR_ACCESS_DENIED;
    *ppNode = handle->second.pNode;
    return ERROR_SUCCESS;
}

MemoryRegistry::Node* MemoryRegistry::FindPath(Node* pNode, const char* pszPath) const {
    for (const std::string& strPart : SplitPath(pszPath)) {
        Node* pChild = nullptr;
        for (auto& sub : pNode->subkeys)
            if (SameName(sub->strName, strPart.c_str())) pChild = sub.get();
        if (!pChild) return nullptr;
        pNode = pChild;
    }
    return pNode;
}

LONG MemoryRegistry::NewHandle(Node* pNode, REGSAM sam, HKEY* phkResult) {
    HKEY hKey = reinterpret_cast<HKEY>(m_nextHandle);
    m_nextHandle += 4;
    m_handles[hKey] = Handle{pNode, sam};
    *phkResult = hKey;
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::OpenKey(HKEY hKey, const char* pszSubKey, REGSAM samDesired, HKEY* phkResult) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hKey, 0, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    Node* pKey = FindPath(pNode, pszSubKey ? pszSubKey : "");
    if (!pKey) return ERROR_FILE_NOT_FOUND;
    if (pKey->bReadOnly && (samDesired & ~static_cast<REGSAM>(KEY_READ))) return ERROR_ACCESS_DENIED;
    return NewHandle(pKey, samDesired, phkResult);
}

LONG MemoryRegistry::CreateKey(HKEY hKey, const char* pszSubKey, HKEY* phkResult) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hKey, 0, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    for (const std::string& strPart : SplitPath(pszSubKey ? pszSubKey : "")) {
        if (!ValidKeyName(strPart)) return ERROR_INVALID_PARAMETER;
        Node* pChild = FindPath(pNode, strPart.c_str());
        if (!pChild) {
            if (pNode->bReadOnly) return ERROR_ACCESS_DENIED;
            auto child = std::make_unique<Node>();
            child->strName = strPart;
            child->pParent = pNode;
            pChild = child.get();
            auto pos = pNode->subkeys.begin();
            while (pos != pNode->subkeys.end() && TextCompareNoCase((*pos)->strName.c_str(), strPart.c_str()) < 0)
                ++pos;
            pNode->subkeys.insert(pos, std::move(child));
        }
        pNode = pChild;
    }
    if (pNode->bReadOnly) return ERROR_ACCESS_DENIED;
    return NewHandle(pNode, KEY_ALL_ACCESS, phkResult);
}

LONG MemoryRegistry::SetValue(HKEY hKey, const char* pszValueName, DWORD dwType, const BYTE* pbData, DWORD cbData) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hKey, KEY_SET_VALUE, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    const char* pszName = pszValueName ? pszValueName : "";
    Value value{pszName, dwType, std::vector<BYTE>(pbData, pbData + cbData)};
    for (Value& existing : pNode->values)
        if (SameName(existing.strName, pszName)) {
            existing = std::move(value);
            return ERROR_SUCCESS;
        }
    pNode->values.push_back(std::move(value));
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::DeleteValue(HKEY hKey, const char* pszValueName) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hKey, KEY_SET_VALUE, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    const char* pszName = pszValueName ? pszValueName : "";
    for (auto it = pNode->values.begin(); it != pNode->values.end(); ++it)
        if (SameName(it->strName, pszName)) {
            pNode->values.erase(it);
            return ERROR_SUCCESS;
        }
    return ERROR_FILE_NOT_FOUND;
}

LONG MemoryRegistry::DeleteKey(HKEY hKey, const char* pszSubKey) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hKey, 0, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    Node* pKey = FindPath(pNode, pszSubKey ? pszSubKey : "");
    if (!pKey) return ERROR_FILE_NOT_FOUND;
    if (!pKey->pParent || !pKey->subkeys.empty() || pKey->bReadOnly) return ERROR_ACCESS_DENIED;
    auto& siblings = pKey->pParent->subkeys;
    for (auto it = siblings.begin(); it != siblings.end(); ++it)
        if (it->get() == pKey) {
            pKey->bDeleted = true;
            m_deleted.push_back(std::move(*it));
            siblings.erase(it);
            break;
        }
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::EnumKey(HKEY hKey, DWORD dwIndex, char* pszName, DWORD* pcchName) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hKey, KEY_ENUMERATE_SUB_KEYS, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    if (dwIndex >= pNode->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    return CopyEnumeratedName(pNode->subkeys[dwIndex]->strName, pszName, pcchName);
}

LONG MemoryRegistry::EnumValue(HKEY hKey, DWORD dwIndex, char* pszValueName, DWORD* pcchValueName) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hKey, KEY_QUERY_VALUE, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    if (dwIndex >= pNode->values.size()) return ERROR_NO_MORE_ITEMS;
    return CopyEnumeratedName(pNode->values[dwIndex].strName, pszValueName, pcchValueName);
}

LONG MemoryRegistry::QueryInfoKey(HKEY hKey, DWORD* pcSubKeys, DWORD* pcValues) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hKey, KEY_QUERY_VALUE, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    if (pcSubKeys) *pcSubKeys = static_cast<DWORD>(pNode->subkeys.size());
    if (pcValues) *pcValues = static_cast<DWORD>(pNode->values.size());
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::CloseKey(HKEY hKey) {
    if (m_roots.count(hKey)) return ERROR_SUCCESS;
    if (!m_handles.erase(hKey)) return ERROR_INVALID_HANDLE;
    if (m_nFailingCloses > 0) {
        --m_nFailingCloses;
        return ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

LONG MemoryRegistry::SetReadOnly(HKEY hRoot, const char* pszPath, bool bReadOnly) {
    Node* pNode = nullptr;
    LONG lResult = Resolve(hRoot, 0, &pNode);
    if (lResult != ERROR_SUCCESS) return lResult;
    Node* pKey = FindPath(pNode, pszPath);
    if (!pKey) return ERROR_FILE_NOT_FOUND;
    pKey->bReadOnly = bReadOnly;
    return ERROR_SUCCESS;
}

std::vector<std::string> MemoryRegistry::Dump(HKEY hRoot) const {
    std::vector<std::string> lines;
    auto root = m_roots.find(hRoot);
    if (root != m_roots.end()) DumpNode(*root->second, "", lines);
    return lines;
}

void MemoryRegistry::DumpNode(const Node& node, const std::string& strPath, std::vector<std::string>& lines) const {
    if (!strPath.empty()) lines.push_back(strPath);
    for (const Value& value : node.values) {
        std::string strLine = strPath + (strPath.empty() ? "[" : " [") + value.strName + "] " + TypeName(value.dwType);
        if (value.dwType == REG_SZ) {
            strLine += " \"";
            strLine.append(value.data.begin(), value.data.end());
            if (!value.data.empty() && value.data.back() == 0) strLine.pop_back();
            else strLine += "(unterminated)";
            strLine += "\"";
        } else if (value.dwType == REG_DWORD && value.data.size() == 4) {
            DWORD dw = 0;
            std::memcpy(&dw, value.data.data(), 4);
            char sz[16];
            std::snprintf(sz, sizeof sz, " 0x%08x", static_cast<unsigned>(dw));
            strLine += sz;
        } else {
            for (BYTE b : value.data) {
                char sz[4];
                std::snprintf(sz, sizeof sz, " %02x", b);
                strLine += sz;
            }
        }
        lines.push_back(strLine);
    }
    for (const auto& sub : node.subkeys)
        DumpNode(*sub, strPath.empty() ? sub->strName : strPath + "\\" + sub->strName, lines);
}

std::vector<MemoryRegistry::Entry> MemoryRegistry::Entries(HKEY hRoot) const {
    std::vector<Entry> entries;
    auto root = m_roots.find(hRoot);
    if (root != m_roots.end()) WalkNode(*root->second, "", entries);
    return entries;
}

void MemoryRegistry::WalkNode(const Node& node, const std::string& strPath, std::vector<Entry>& entries) const {
    if (!strPath.empty()) entries.push_back({strPath, false, "", 0, {}, !node.subkeys.empty()});
    for (const Value& value : node.values) entries.push_back({strPath, true, value.strName, value.dwType, value.data, false});
    for (const auto& sub : node.subkeys)
        WalkNode(*sub, strPath.empty() ? sub->strName : strPath + "\\" + sub->strName, entries);
}

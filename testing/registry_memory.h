// An in-memory registry for the host build, with the contracts of the Win32
// registry functions: keys beneath the predefined roots, names compared
// without regard to case, typed values, access checked per handle, and a key
// deleted only when it has no subkeys. Tests can mark a key read-only (as an
// access control list would) and make key closing fail.
#pragma once
#include "registration/registry_access.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class MemoryRegistry final : public RegistryAccess {
public:
    MemoryRegistry();
    ~MemoryRegistry();

    LONG OpenKey(HKEY hKey, const char* pszSubKey, REGSAM samDesired, HKEY* phkResult) override;
    LONG CreateKey(HKEY hKey, const char* pszSubKey, HKEY* phkResult) override;
    LONG SetValue(HKEY hKey, const char* pszValueName, DWORD dwType, const BYTE* pbData, DWORD cbData) override;
    LONG DeleteValue(HKEY hKey, const char* pszValueName) override;
    LONG DeleteKey(HKEY hKey, const char* pszSubKey) override;
    LONG EnumKey(HKEY hKey, DWORD dwIndex, char* pszName, DWORD* pcchName) override;
    LONG EnumValue(HKEY hKey, DWORD dwIndex, char* pszValueName, DWORD* pcchValueName) override;
    LONG QueryInfoKey(HKEY hKey, DWORD* pcSubKeys, DWORD* pcValues) override;
    LONG CloseKey(HKEY hKey) override;

    // Test controls.
    // Handles opened and not yet closed.
    std::size_t OpenHandleCount() const { return m_handles.size(); }
    // The key can then be opened for reading only, takes no new subkeys and
    // cannot be deleted.
    LONG SetReadOnly(HKEY hRoot, const char* pszPath, bool bReadOnly);
    // The next nCount closes report ERROR_INVALID_HANDLE (the handle is still
    // released).
    void FailNextCloses(int nCount) { m_nFailingCloses = nCount; }

    // Every key and value beneath the root, one line each, depth first in
    // enumeration order, paths relative to the root:
    //   Key\Sub
    //   Key\Sub [name] REG_SZ "text"   ([] is the default value)
    //   Key\Sub [name] REG_DWORD 0x0000000a
    //   Key\Sub [name] REG_BINARY 0a ff
    std::vector<std::string> Dump(HKEY hRoot) const;

    // The same walk as data: one entry per key (bValue false) and per value,
    // in Dump's order; strKey is relative to the root.
    struct Entry {
        std::string strKey;
        bool bValue;
        std::string strName;
        DWORD dwType;
        std::vector<BYTE> data;
        bool bHasSubkeys;  // keys only
    };
    std::vector<Entry> Entries(HKEY hRoot) const;

private:
    struct Value {
        std::string strName;
        DWORD dwType;
        std::vector<BYTE> data;
    };
    struct Node {
        std::string strName;
        Node* pParent = nullptr;
        bool bDeleted = false;
        bool bReadOnly = false;
        std::vector<std::unique_ptr<Node>> subkeys;  // kept sorted, as the registry enumerates
        std::vector<Value> values;                    // in order of creation
    };
    struct Handle {
        Node* pNode;
        REGSAM sam;
    };

    LONG Resolve(HKEY hKey, REGSAM samNeeded, Node** ppNode) const;
    Node* FindPath(Node* pNode, const char* pszPath) const;
    LONG NewHandle(Node* pNode, REGSAM sam, HKEY* phkResult);
    void DumpNode(const Node& node, const std::string& strPath, std::vector<std::string>& lines) const;
    void WalkNode(const Node& node, const std::string& strPath, std::vector<Entry>& entries) const;

    std::map<HKEY, std::unique_ptr<Node>> m_roots;
    std::map<HKEY, Handle> m_handles;
    std::vector<std::unique_ptr<Node>> m_deleted;  // deleted keys outlive handles to them
    std::uintptr_t m_nextHandle = 0x1000;
    int m_nFailingCloses = 0;
};

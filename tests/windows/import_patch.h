// Replaces one imported function of a loaded module for the life of a scope,
// by rewriting its slot in the module's import address table. Tests use it to
// make a system call fail where no real input can (a write that fails after
// the file was made, a GUID that cannot be turned into text, a resource that
// fails without an error code) and check that the product says so.
#pragma once
#include <windows.h>

#include <cstring>

class ImportPatch {
public:
    ImportPatch(HMODULE hModule, const char* pszDll, const char* pszFunction, const void* pvReplacement) {
        m_ppSlot = FindSlot(reinterpret_cast<BYTE*>(hModule), pszDll, pszFunction);
        if (m_ppSlot) {
            m_pvOriginal = *m_ppSlot;
            Write(const_cast<void*>(pvReplacement));
        }
    }
    ~ImportPatch() {
        if (m_ppSlot) Write(m_pvOriginal);
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // False when the module imports no such function from that DLL.
    bool Applied() const { return m_ppSlot != nullptr; }
    void* Original() const { return m_pvOriginal; }

private:
    static void** FindSlot(BYTE* pbBase, const char* pszDll, const char* pszFunction) {
        if (!pbBase) return nullptr;
        auto pDos = reinterpret_cast<IMAGE_DOS_HEADER*>(pbBase);
        auto pNt = reinterpret_cast<IMAGE_NT_HEADERS*>(pbBase + pDos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (!dir.VirtualAddress) return nullptr;
        for (auto pDesc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(pbBase + dir.VirtualAddress); pDesc->Name;
             ++pDesc) {
            if (lstrcmpiA(reinterpret_cast<const char*>(pbBase + pDesc->Name), pszDll) != 0) continue;
            auto pNames = reinterpret_cast<IMAGE_THUNK_DATA*>(
                pbBase + (pDesc->OriginalFirstThunk ? pDesc->OriginalFirstThunk : pDesc->FirstThunk));
            auto pSlots = reinterpret_cast<IMAGE_THUNK_DATA*>(pbBase + pDesc->FirstThunk);
            for (; pNames->u1.AddressOfData; ++pNames, ++pSlots) {
                if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal)) continue;
                auto pByName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(pbBase + pNames->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(pByName->Name), pszFunction) == 0)
                    return reinterpret_cast<void**>(&pSlots->u1.Function);
            }
        }
        return nullptr;
    }

    void Write(void* pv) {
        DWORD dwOld = 0;
        VirtualProtect(m_ppSlot, sizeof *m_ppSlot, PAGE_READWRITE, &dwOld);
        *m_ppSlot = pv;
        VirtualProtect(m_ppSlot, sizeof *m_ppSlot, dwOld, &dwOld);
    }

    void** m_ppSlot = nullptr;
    void* m_pvOriginal = nullptr;
};

// Stands in for WriteFile: the disk is full before the first byte.
inline BOOL WINAPI WriteFileDiskFull(HANDLE, LPCVOID, DWORD, LPDWORD pcbWritten, LPOVERLAPPED) {
    if (pcbWritten) *pcbWritten = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

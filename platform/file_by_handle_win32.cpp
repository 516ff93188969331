#include "platform/file_by_handle.h"

#include <cstddef>
#include <cstring>

#include "platform/module_heap.h"

namespace {

// SetFileInformationByHandle and its structures as documented; looked up at
// run time so that the module still loads on systems without it.
enum FileInfoClass { kFileBasicInfo = 0, kFileRenameInfo = 3, kFileDispositionInfo = 4 };
struct BasicInfo {
    LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime;  // 0: unchanged
    DWORD dwFileAttributes;
};
struct DispositionInfo {
    BOOLEAN bDeleteFile;
};
struct RenameInfo {
    BOOLEAN bReplaceIfExists;
    HANDLE hRootDirectory;
    DWORD cbFileName;
    WCHAR szFileName[1];
};
typedef BOOL(WINAPI* PFNSETFILEINFORMATIONBYHANDLE)(HANDLE, int, void*, DWORD);

PFNSETFILEINFORMATIONBYHANDLE SetInformation() {
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    return hKernel ? reinterpret_cast<PFNSETFILEINFORMATIONBYHANDLE>(
                         reinterpret_cast<void*>(GetProcAddress(hKernel, "SetFileInformationByHandle")))
                   : nullptr;
}

}  // namespace

DWORD MarkForDeletion(HANDLE hFile, bool bDelete) {
    PFNSETFILEINFORMATIONBYHANDLE pfnSet = SetInformation();
    if (!pfnSet) return ERROR_CALL_NOT_IMPLEMENTED;
    DispositionInfo info{static_cast<BOOLEAN>(bDelete ? TRUE : FALSE)};
    return pfnSet(hFile, kFileDispositionInfo, &info, sizeof info) ? ERROR_SUCCESS : GetLastError();
}

DWORD RenameOpenFile(HANDLE hFile, const wchar_t* pszNewPath, bool bReplace) {
    PFNSETFILEINFORMATIONBYHANDLE pfnSet = SetInformation();
    if (!pfnSet) return ERROR_CALL_NOT_IMPLEMENTED;
    const std::size_t cbName = static_cast<std::size_t>(lstrlenW(pszNewPath)) * sizeof(wchar_t);
    const std::size_t cbInfo = offsetof(RenameInfo, szFileName) + cbName + sizeof(wchar_t);
    if (cbName > 0xFFFF) return ERROR_FILENAME_EXCED_RANGE;
    ModuleBlock block(ModuleAlloc(cbInfo));
    if (!block) return ERROR_NOT_ENOUGH_MEMORY;
    RenameInfo* pInfo = block.as<RenameInfo>();
    std::memset(pInfo, 0, cbInfo);
    pInfo->bReplaceIfExists = bReplace ? TRUE : FALSE;
    pInfo->cbFileName = static_cast<DWORD>(cbName);
    std::memcpy(pInfo->szFileName, pszNewPath, cbName);
    return pfnSet(hFile, kFileRenameInfo, pInfo, static_cast<DWORD>(cbInfo)) ? ERROR_SUCCESS : GetLastError();
}

DWORD SetOpenFileAttributes(HANDLE hFile, DWORD dwAttributes) {
    PFNSETFILEINFORMATIONBYHANDLE pfnSet = SetInformation();
    if (!pfnSet) return ERROR_CALL_NOT_IMPLEMENTED;
    BasicInfo info;
    std::memset(&info, 0, sizeof info);
    info.dwFileAttributes = dwAttributes;
    return pfnSet(hFile, kFileBasicInfo, &info, sizeof info) ? ERROR_SUCCESS : GetLastError();
}

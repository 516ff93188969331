#include <climits>
#include <cstring>

#include "webmng/file_access.h"

std::int32_t ReadWholeFile(HANDLE hFile, ModuleBlock& buffer) {
    DWORD dwSizeHigh = 0;
    DWORD dwSize = GetFileSize(hFile, &dwSizeHigh);
    // The size must fit the result and a byte array (a failed query gives
    // 0xFFFFFFFF, which does not): a 32-bit process could not hold more, and
    // taking the low word alone would return a wrong file.
    if (dwSizeHigh != 0 || dwSize > static_cast<DWORD>(INT32_MAX)) return kReadFailed;
    buffer.reset(ModuleAlloc(dwSize));
    if (!buffer) return kReadFailed;
    std::memset(buffer.get(), 0, dwSize);
    SetFilePointer(hFile, 0, nullptr, FILE_BEGIN);
    DWORD cbRead = 0;
    // A short read would hand back zero bytes in place of the file's own.
    if (!ReadFile(hFile, buffer.get(), dwSize, &cbRead, nullptr) || cbRead != dwSize) return kReadFailed;
    return static_cast<std::int32_t>(dwSize);
}

#include "tus/store_random.h"

#include "platform/win32_owners.h"

namespace {
typedef LONG(WINAPI* PFNGENRANDOM)(void* hAlgorithm, PUCHAR pbBuffer, ULONG cbBuffer, ULONG dwFlags);
constexpr ULONG kUseSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
}  // namespace

DWORD StoreRandom(unsigned char* pb, std::size_t cb) {
    // From the system folder by its full path, as for hashing.
    wchar_t szPath[MAX_PATH + 16];
    const UINT cch = GetSystemDirectoryW(szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) return cch == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
    lstrcpyW(szPath + cch, L"\\bcrypt.dll");
    UniqueLibrary bcrypt(LoadLibraryW(szPath));
    if (!bcrypt) return GetLastError();
    const auto pfnGenRandom = reinterpret_cast<PFNGENRANDOM>(
        reinterpret_cast<void*>(GetProcAddress(bcrypt.get(), "BCryptGenRandom")));
    if (!pfnGenRandom) return GetLastError();
    const LONG status = pfnGenRandom(nullptr, pb, static_cast<ULONG>(cb), kUseSystemPreferredRng);
    return status == 0 ? ERROR_SUCCESS : ERROR_INTERNAL_ERROR;
}

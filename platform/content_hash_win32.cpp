#include "platform/content_hash.h"

#include <bcrypt.h>

#include "platform/module_heap.h"

namespace {
struct AlgorithmRow {
    HashAlgorithm algorithm;
    const wchar_t* pszName;      // what scripts read back
    const wchar_t* pszDashed;    // also accepted
    const wchar_t* pszProvider;  // CNG's identifier
    std::size_t cbDigest;
};
const AlgorithmRow kAlgorithms[] = {
    {HashAlgorithm::kSha256, L"SHA256", L"SHA-256", BCRYPT_SHA256_ALGORITHM, 32},
    {HashAlgorithm::kSha1, L"SHA1", L"SHA-1", BCRYPT_SHA1_ALGORITHM, 20},
    {HashAlgorithm::kMd5, L"MD5", L"MD5", BCRYPT_MD5_ALGORITHM, 16},
};

const AlgorithmRow* RowOf(HashAlgorithm algorithm) {
    for (const AlgorithmRow& row : kAlgorithms)
        if (row.algorithm == algorithm) return &row;
    return nullptr;
}

bool SameAscii(const wchar_t* pszA, const wchar_t* pszB) {
    for (; *pszA && *pszB; ++pszA, ++pszB) {
        wchar_t a = *pszA, b = *pszB;
        if (a >= L'a' && a <= L'z') a = static_cast<wchar_t>(a - 32);
        if (b >= L'a' && b <= L'z') b = static_cast<wchar_t>(b - 32);
        if (a != b) return false;
    }
    return *pszA == *pszB;
}

// The few NTSTATUS codes CNG gives for these calls, as system error codes
// (ntdll's own mapping is not imported).
DWORD FromStatus(NTSTATUS status) {
    switch (static_cast<unsigned long>(status)) {
    case 0: return ERROR_SUCCESS;
    case 0xC0000017: return ERROR_NOT_ENOUGH_MEMORY;    // STATUS_NO_MEMORY
    case 0xC000009A: return ERROR_NOT_ENOUGH_MEMORY;    // STATUS_INSUFFICIENT_RESOURCES
    case 0xC0000225: return ERROR_NOT_FOUND;            // STATUS_NOT_FOUND: no such provider
    case 0xC000000D: return ERROR_INVALID_PARAMETER;    // STATUS_INVALID_PARAMETER
    case 0xC0000008: return ERROR_INVALID_HANDLE;       // STATUS_INVALID_HANDLE
    case 0xC00000BB: return ERROR_NOT_SUPPORTED;        // STATUS_NOT_SUPPORTED
    case 0xC0000023: return ERROR_INSUFFICIENT_BUFFER;  // STATUS_BUFFER_TOO_SMALL
    default: return ERROR_INTERNAL_ERROR;
    }
}
}  // namespace

HashAlgorithm HashAlgorithmNamed(const wchar_t* pszName) {
    if (!pszName) return HashAlgorithm::kNone;
    for (const AlgorithmRow& row : kAlgorithms)
        if (SameAscii(pszName, row.pszName) || SameAscii(pszName, row.pszDashed)) return row.algorithm;
    return HashAlgorithm::kNone;
}

const wchar_t* HashAlgorithmName(HashAlgorithm algorithm) {
    const AlgorithmRow* pRow = RowOf(algorithm);
    return pRow ? pRow->pszName : L"";
}

std::size_t DigestBytes(HashAlgorithm algorithm) {
    const AlgorithmRow* pRow = RowOf(algorithm);
    return pRow ? pRow->cbDigest : 0;
}

void DigestText(const unsigned char* pbDigest, std::size_t cb, wchar_t (&szText)[kcchMaxDigestText]) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    if (cb > kcbMaxDigest) cb = kcbMaxDigest;
    for (std::size_t i = 0; i < cb; ++i) {
        szText[2 * i] = kHex[pbDigest[i] >> 4];
        szText[2 * i + 1] = kHex[pbDigest[i] & 15];
    }
    szText[2 * cb] = L'\0';
}

struct ContentHash::Library {
    HMODULE hModule;
    decltype(&BCryptOpenAlgorithmProvider) pfnOpenAlgorithmProvider;
    decltype(&BCryptCloseAlgorithmProvider) pfnCloseAlgorithmProvider;
    decltype(&BCryptGetProperty) pfnGetProperty;
    decltype(&BCryptCreateHash) pfnCreateHash;
    decltype(&BCryptHashData) pfnHashData;
    decltype(&BCryptFinishHash) pfnFinishHash;
    decltype(&BCryptDestroyHash) pfnDestroyHash;
};

namespace {
template <class Pfn>
bool Find(HMODULE hModule, const char* pszName, Pfn* ppfn) {
    *ppfn = reinterpret_cast<Pfn>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
    return *ppfn != nullptr;
}
}  // namespace

ContentHash::~ContentHash() {
    CloseAlgorithm();
    if (m_pLibrary) {
        FreeLibrary(m_pLibrary->hModule);
        ModuleFree(m_pLibrary);
    }
}

// From the system folder by its full path, never from wherever the search
// order would find a file of that name first.
DWORD ContentHash::OpenLibrary() {
    if (m_pLibrary) return ERROR_SUCCESS;
    wchar_t szPath[MAX_PATH + 16];
    const UINT cch = GetSystemDirectoryW(szPath, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH) return cch == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
    lstrcpyW(szPath + cch, L"\\bcrypt.dll");
    const HMODULE hModule = LoadLibraryW(szPath);
    if (!hModule) return GetLastError();
    auto* pLibrary = static_cast<Library*>(ModuleAlloc(sizeof(Library)));
    if (!pLibrary) {
        FreeLibrary(hModule);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    pLibrary->hModule = hModule;
    if (!Find(hModule, "BCryptOpenAlgorithmProvider", &pLibrary->pfnOpenAlgorithmProvider) ||
        !Find(hModule, "BCryptCloseAlgorithmProvider", &pLibrary->pfnCloseAlgorithmProvider) ||
        !Find(hModule, "BCryptGetProperty", &pLibrary->pfnGetProperty) ||
        !Find(hModule, "BCryptCreateHash", &pLibrary->pfnCreateHash) ||
        !Find(hModule, "BCryptHashData", &pLibrary->pfnHashData) ||
        !Find(hModule, "BCryptFinishHash", &pLibrary->pfnFinishHash) ||
        !Find(hModule, "BCryptDestroyHash", &pLibrary->pfnDestroyHash)) {
        FreeLibrary(hModule);
        ModuleFree(pLibrary);
        return ERROR_PROC_NOT_FOUND;
    }
    m_pLibrary = pLibrary;
    return ERROR_SUCCESS;
}

void ContentHash::EndHash() {
    if (m_hHash) m_pLibrary->pfnDestroyHash(m_hHash);
    m_hHash = nullptr;
}

void ContentHash::CloseAlgorithm() {
    EndHash();
    if (m_hAlgorithm) m_pLibrary->pfnCloseAlgorithmProvider(m_hAlgorithm, 0);
    ModuleFree(m_pbObject);
    m_hAlgorithm = m_pbObject = nullptr;
    m_cbObject = 0;
    m_algorithm = HashAlgorithm::kNone;
}

// The hash object's memory is ours, so every system the DLL runs on (some
// refuse to supply it themselves) takes the same path.
DWORD ContentHash::OpenAlgorithm(HashAlgorithm algorithm) {
    if (m_hAlgorithm && m_algorithm == algorithm) return ERROR_SUCCESS;
    CloseAlgorithm();
    const AlgorithmRow* pRow = RowOf(algorithm);
    if (!pRow) return ERROR_INVALID_PARAMETER;
    BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
    DWORD dwError = FromStatus(m_pLibrary->pfnOpenAlgorithmProvider(&hAlgorithm, pRow->pszProvider, nullptr, 0));
    if (dwError != ERROR_SUCCESS) return dwError;
    m_hAlgorithm = hAlgorithm;
    DWORD cbObject = 0;
    ULONG cbResult = 0;
    dwError = FromStatus(m_pLibrary->pfnGetProperty(hAlgorithm, BCRYPT_OBJECT_LENGTH,
                                                    reinterpret_cast<PUCHAR>(&cbObject), sizeof cbObject, &cbResult, 0));
    if (dwError == ERROR_SUCCESS && !(m_pbObject = ModuleAlloc(cbObject))) dwError = ERROR_NOT_ENOUGH_MEMORY;
    if (dwError != ERROR_SUCCESS) {
        CloseAlgorithm();
        return dwError;
    }
    m_cbObject = cbObject;
    m_algorithm = algorithm;
    return ERROR_SUCCESS;
}

DWORD ContentHash::Begin(HashAlgorithm algorithm) {
    EndHash();
    DWORD dwError = OpenLibrary();
    if (dwError == ERROR_SUCCESS) dwError = OpenAlgorithm(algorithm);
    if (dwError != ERROR_SUCCESS) return dwError;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    dwError = FromStatus(m_pLibrary->pfnCreateHash(m_hAlgorithm, &hHash, static_cast<PUCHAR>(m_pbObject), m_cbObject,
                                                   nullptr, 0, 0));
    if (dwError == ERROR_SUCCESS) m_hHash = hHash;
    return dwError;
}

DWORD ContentHash::Data(const unsigned char* pb, std::size_t cb) {
    if (!m_hHash) return ERROR_INVALID_HANDLE;
    while (cb > 0) {
        const ULONG cbPiece = cb > 0x40000000u ? 0x40000000u : static_cast<ULONG>(cb);
        const DWORD dwError = FromStatus(m_pLibrary->pfnHashData(m_hHash, const_cast<PUCHAR>(pb), cbPiece, 0));
        if (dwError != ERROR_SUCCESS) {
            EndHash();
            return dwError;
        }
        pb += cbPiece;
        cb -= cbPiece;
    }
    return ERROR_SUCCESS;
}

DWORD ContentHash::Finish(unsigned char (&abDigest)[kcbMaxDigest]) {
    if (!m_hHash) return ERROR_INVALID_HANDLE;
    const DWORD dwError = FromStatus(
        m_pLibrary->pfnFinishHash(m_hHash, abDigest, static_cast<ULONG>(DigestBytes(m_algorithm)), 0));
    EndHash();
    return dwError;
}

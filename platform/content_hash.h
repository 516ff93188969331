// A file's hash through the system's own cryptography (CNG): SHA-256, SHA-1
// or MD5, fed in pieces, finished as lower-case hex. bcrypt.dll is loaded
// when a hash begins, not imported: the DLL keeps loading on systems older
// than CNG, where only hashing is refused (ERROR_PROC_NOT_FOUND or the
// loader's own code).
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

enum class HashAlgorithm : std::uint8_t { kNone, kSha256, kSha1, kMd5 };

constexpr std::size_t kcbMaxDigest = 32;
constexpr std::size_t kcchMaxDigestText = 2 * kcbMaxDigest + 1;

// The algorithm a script names ("SHA256", "SHA-256", "SHA1", "SHA-1", "MD5",
// any case); kNone for anything else, null and "" included.
HashAlgorithm HashAlgorithmNamed(const wchar_t* pszName);
// The name scripts read back ("SHA256", "SHA1", "MD5"; "" for kNone).
const wchar_t* HashAlgorithmName(HashAlgorithm algorithm);
// The digest's length in bytes (0 for kNone).
std::size_t DigestBytes(HashAlgorithm algorithm);
// The digest as lower-case hex into szText (2 * cb digits and a NUL).
void DigestText(const unsigned char* pbDigest, std::size_t cb, wchar_t (&szText)[kcchMaxDigestText]);

// One hash in progress, and again after Finish: the library and the
// algorithm stay open for the next Begin of the same algorithm, so a form of
// many files opens them once. Every call gives ERROR_SUCCESS or the system's
// code.
class ContentHash {
public:
    ContentHash() = default;
    ~ContentHash();
    ContentHash(const ContentHash&) = delete;
    ContentHash& operator=(const ContentHash&) = delete;

    DWORD Begin(HashAlgorithm algorithm);
    DWORD Data(const unsigned char* pb, std::size_t cb);
    // The digest into pbDigest (DigestBytes of the algorithm); the object can
    // Begin again afterwards.
    DWORD Finish(unsigned char (&abDigest)[kcbMaxDigest]);
    bool Active() const { return m_hHash != nullptr; }
    HashAlgorithm Algorithm() const { return m_algorithm; }

private:
    struct Library;
    DWORD OpenLibrary();
    DWORD OpenAlgorithm(HashAlgorithm algorithm);
    void EndHash();
    void CloseAlgorithm();

    Library* m_pLibrary = nullptr;  // bcrypt.dll and its entry points, from the module heap
    void* m_hAlgorithm = nullptr;   // BCRYPT_ALG_HANDLE
    void* m_pbObject = nullptr;     // the hash object's memory, from the module heap
    unsigned long m_cbObject = 0;
    void* m_hHash = nullptr;        // BCRYPT_HASH_HANDLE
    HashAlgorithm m_algorithm = HashAlgorithm::kNone;  // of the open algorithm
};

// What VARO.Upload learns of each file while the form loads: the media type
// and image size its first bytes tell (so asking costs no read), and its
// hash when the page asked for one beforehand; the types the page takes.
#pragma once
#include <windows.h>

#include <cstdint>
#include <utility>

#include "formscan/part_stream.h"
#include "platform/content_hash.h"
#include "platform/module_heap.h"
#include "uploadedfile/known_facts.h"

// The page's list of media types it takes (AllowedTypes): types separated
// by blanks, commas or semicolons, compared without regard to case.
// Empty: every type.
bool TypeAllowed(const wchar_t* pszAllowed, const char* pszType);

// Sits between a PartStream and the sink that keeps the values: reads each
// file's facts as its bytes pass, hashes them when asked to, and stops the
// stream at the end of a file whose type the page does not take.
class FactsSink final : public PartSink {
public:
    FactsSink(PartSink* pNext, HashAlgorithm hashWhileLoading, const wchar_t* pszAllowedTypes)
        : m_pNext(pNext), m_hashWhileLoading(hashWhileLoading), m_pszAllowed(pszAllowedTypes) {}
    FactsSink(const FactsSink&) = delete;
    FactsSink& operator=(const FactsSink&) = delete;

    bool PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) override;
    bool PartData(const unsigned char* pb, std::uint32_t cb) override;
    bool PartEnds() override;
    void PartDropped() override;

    enum class Stop { kNone, kNoMemory, kHashFailed, kTypeRefused };
    // Why this sink (not the one after it) stopped the stream; for a
    // refused type, the file's client name (its text bytes, the part's flags)
    // and its type; for a failed hash the system's code.
    Stop Stopped() const { return m_stop; }
    DWORD SystemError() const { return m_dwError; }
    const unsigned char* RefusedName() const { return m_refusedName.as<unsigned char>(); }
    std::uint32_t RefusedNameLength() const { return m_cbRefusedName; }
    std::uint32_t RefusedFlags() const { return m_refusedFlags; }
    const char* RefusedType() const { return m_pszRefusedType; }

    // The facts of every part so far (KnownFacts[parts]).
    ModuleBlock TakeFacts() { return std::move(m_facts); }

private:
    bool Fail(Stop stop, DWORD dwError = ERROR_SUCCESS);

    PartSink* m_pNext;
    HashAlgorithm m_hashWhileLoading;
    const wchar_t* m_pszAllowed;
    Stop m_stop = Stop::kNone;
    DWORD m_dwError = ERROR_SUCCESS;

    ModuleBlock m_facts;  // KnownFacts per part
    std::uint32_t m_nFactsCapacity = 0;
    ModuleBlock m_head;   // the current file's first bytes
    std::size_t m_cbHead = 0;
    ContentHash m_hash;

    // The current part.
    std::uint32_t m_iPart = 0;
    bool m_bFile = false;
    ModuleBlock m_name;  // its file name's bytes, for a refusal
    std::uint32_t m_cbName = 0, m_nameFlags = 0;

    ModuleBlock m_refusedName;
    std::uint32_t m_cbRefusedName = 0, m_refusedFlags = 0;
    const char* m_pszRefusedType = "";
};

// Facts of every file of a form held in memory, as FactsSink learns them
// while a stream passes; the index of the first file whose type the page
// does not take in *piRefused (UINT32_MAX: none). ERROR_SUCCESS or the
// system's code (no memory, a hash that failed).
class LoadedForm;
DWORD ReadFormFacts(const LoadedForm& form, HashAlgorithm hashWhileLoading, const wchar_t* pszAllowedTypes,
                    ModuleBlock* pFacts, std::uint32_t* piRefused);

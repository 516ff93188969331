// What a page sets on VARO.Upload before it loads a form: how many parts,
// the byte limits, where files are spooled, the hash taken while loading,
// the types it takes and the id its progress is kept under. Each setter
// checks its value and publishes why it refuses one.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "platform/content_hash.h"
#include "platform/win32_owners.h"

class LoadSettings {
public:
    enum class Limit { kBytes, kFileBytes, kFieldBytes };

    LONG MaxParts() const { return m_lMaxParts; }
    HRESULT SetMaxParts(LONG lMaxParts);

    double LimitValue(Limit limit) const { return m_adblLimits[static_cast<int>(limit)]; }
    // A byte count (0: none) as a whole number not below 0.
    HRESULT SetLimit(Limit limit, double dblLimit);
    // The limit as a byte count (0: none); the largest doubles mean no
    // practical limit either.
    std::uint64_t LimitBytes(Limit limit) const;

    // Null: the system's temporary folder.
    const wchar_t* TempFolder() const { return m_tempFolder.get(); }
    // The folder files are spooled to, the system's when none is set (an
    // empty text when there is none).
    HRESULT TempFolderText(BSTR* pbstrFolder) const;
    // Empty: back to the system's temporary folder.
    HRESULT SetTempFolder(BSTR bstrFolder);

    HashAlgorithm HashWhileLoading() const { return m_hashWhileLoading; }
    // Empty: no hash while loading.
    HRESULT SetHashWhileLoading(BSTR bstrAlgorithm);

    // Null: every type.
    BSTR AllowedTypes() const { return m_allowedTypes.get(); }
    HRESULT SetAllowedTypes(BSTR bstrTypes) { return KeepText(bstrTypes, &m_allowedTypes); }

    // Null: no progress kept.
    BSTR ProgressId() const { return m_progressId.get(); }
    // Empty clears the id; anything else must name a record as it stands.
    HRESULT SetProgressId(BSTR bstrId);

private:
    // A text setting's new value, kept as a copy; an empty one clears it.
    static HRESULT KeepText(BSTR bstrText, UniqueBstr* pKept);

    LONG m_lMaxParts = 1000;
    double m_adblLimits[3] = {0, 0, 1 << 20};  // by Limit
    UniqueBstr m_tempFolder;
    HashAlgorithm m_hashWhileLoading = HashAlgorithm::kNone;
    UniqueBstr m_allowedTypes;
    UniqueBstr m_progressId;
};

// The system's temporary folder, with its trailing separator: ERROR_SUCCESS
// or why there is none (the folder then empty).
DWORD SystemTempFolder(wchar_t (&szFolder)[MAX_PATH + 1]);

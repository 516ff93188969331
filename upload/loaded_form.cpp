#include "upload/loaded_form.h"

#include <cstring>
#include <utility>

#include "platform/module_object.h"

LoadedForm* LoadedForm::Load(const unsigned char* pbBody, std::uint32_t cbBody, std::uint32_t nMaxParts,
                             PartsResult* pResult) {
    *pResult = PartsResult::kNoMemory;
    LoadedForm* pForm = ModuleNew<LoadedForm>();
    if (!pForm) return nullptr;
    // A 0-byte body still gets a block, so the copy has an address to index.
    pForm->m_body.reset(ModuleAlloc(cbBody ? cbBody : 1));
    if (!pForm->m_body) {
        ModuleDelete(pForm);
        return nullptr;
    }
    DelimiterList delimiters;
    if (!delimiters.CopyAndFind(pForm->m_body.as<unsigned char>(), pbBody, cbBody)) {
        ModuleDelete(pForm);
        return nullptr;
    }
    *pResult = pForm->m_parts.Parse(pForm->Body(), cbBody, nMaxParts, &delimiters);
    if (*pResult != PartsResult::kOk) {
        ModuleDelete(pForm);
        return nullptr;
    }
    return pForm;
}

LoadedForm* LoadedForm::Adopt(FormParts&& parts, ModuleBlock&& values, ModuleBlock&& files) {
    LoadedForm* pForm = ModuleNew<LoadedForm>();
    if (!pForm) {
        DeleteSpoolFiles(files, parts.Count());
        return nullptr;
    }
    pForm->m_parts = std::move(parts);
    pForm->m_body = std::move(values);
    pForm->m_files = std::move(files);
    return pForm;
}

LoadedForm::~LoadedForm() { DeleteSpoolFiles(m_files, m_parts.Count()); }

void LoadedForm::Release() {
    if (InterlockedDecrement(&m_lRefCount) == 0) ModuleDelete(this);
}

DWORD LoadedForm::ReadValue(std::uint32_t iPart, unsigned char* pb) const {
    const FormPart& part = m_parts.Part(iPart);
    if (SpoolFile* pFile = File(iPart)) return pFile->Read(pb, part.valueLength);
    if (part.valueLength) std::memcpy(pb, Value(part), part.valueLength);
    return ERROR_SUCCESS;
}

DWORD LoadedForm::ReadPieces(std::uint32_t iPart, DWORD (*pfnPiece)(void*, const unsigned char*, DWORD),
                             void* pvContext) const {
    const FormPart& part = m_parts.Part(iPart);
    if (SpoolFile* pFile = File(iPart)) return pFile->ReadPieces(part.valueLength, pfnPiece, pvContext);
    DWORD dwError = ERROR_SUCCESS;
    for (std::uint32_t cbDone = 0; cbDone < part.valueLength && dwError == ERROR_SUCCESS;) {
        const std::uint32_t cb = part.valueLength - cbDone < kcbPiece ? part.valueLength - cbDone : kcbPiece;
        dwError = pfnPiece(pvContext, Value(part) + cbDone, cb);
        cbDone += cb;
    }
    return dwError;
}

// A file this form saved at the path before is what a replacing save lets go.
DWORD LoadedForm::SaveValue(std::uint32_t iPart, const wchar_t* pszPath, bool bReplace) {
    return SaveAtPagePath(
        pszPath, bReplace, [&](const wchar_t* pszFull) { return SaveOnce(iPart, pszFull, bReplace); },
        [&](const wchar_t* pszFull) { return LetGoOfFileAt(pszFull); });
}

DWORD LoadedForm::SaveOnce(std::uint32_t iPart, const wchar_t* pszFullPath, bool bReplace) {
    const FormPart& part = m_parts.Part(iPart);
    if (SpoolFile* pFile = File(iPart)) return pFile->SaveTo(pszFullPath, part.valueLength, bReplace);
    return SaveBytes(pszFullPath, bReplace, part.valueLength ? Value(part) : nullptr, part.valueLength);
}

bool LoadedForm::LetGoOfFileAt(const wchar_t* pszFullPath) {
    bool bLetGo = false;
    for (std::uint32_t i = 0; i < m_parts.Count(); ++i)
        if (SpoolFile* pFile = File(i)) bLetGo = pFile->LetGoIfAt(pszFullPath) || bLetGo;
    return bLetGo;
}

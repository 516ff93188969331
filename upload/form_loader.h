// How VARO.Upload makes a form out of a body under the page's settings: a
// byte array whole (Load), or a Request object read in pieces with its
// files spooled to disk (LoadRequest); on the way the facts of its files
// are learnt, the types the page takes and its limits checked, and the
// progress kept under its id. The form it makes is the caller's to put in
// the place of an earlier one: a load that fails leaves that one alone.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "upload/load_settings.h"
#include "upload/loaded_form.h"
#include "upload/part_facts.h"

class UploadProgress;

class FormLoader {
public:
    // uCodePage: the page's, for the file names in messages and progress.
    FormLoader(const LoadSettings& settings, UINT uCodePage) : m_settings(settings), m_uCodePage(uCodePage) {}
    FormLoader(const FormLoader&) = delete;
    FormLoader& operator=(const FormLoader&) = delete;

    // S_OK with *ppForm (one reference), or the failure published (and
    // recorded under the progress id).
    HRESULT LoadBytes(VARIANT* pvarBody, LoadedForm** ppForm);
    HRESULT ReadRequest(IDispatch* pRequest, LoadedForm** ppForm);

private:
    HRESULT BytesSteps(VARIANT* pvarBody, UploadProgress* pProgress, LoadedForm** ppForm);
    HRESULT RequestSteps(IDispatch* pRequest, UploadProgress* pProgress, LoadedForm** ppForm);
    // A form held in memory gets its files' facts; refused when one of its
    // files is of a type the page does not take.
    HRESULT AddFacts(LoadedForm* pForm);
    // Why a FactsSink stopped a stream.
    HRESULT FactsFailure(const FactsSink& facts);
    HRESULT TypeRefused(const char* pchName, std::uint32_t cchName, std::uint32_t flags, const char* pszType);

    const LoadSettings& m_settings;
    UINT m_uCodePage;
};

#include "upload/loaded_form.h"

#include <cstring>

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

void LoadedForm::Release() {
    if (InterlockedDecrement(&m_lRefCount) == 0) ModuleDelete(this);
}

// A loaded request body and its index of parts, shared by the Upload object
// and every UploadedFile it hands out: a file stays readable after a later
// Load replaces the form, and after the Upload object is gone.
#pragma once
#include <windows.h>

#include <cstdint>

#include "formscan/form_parts.h"
#include "platform/module_heap.h"

class LoadedForm {
public:
    // A form holding a copy of the bytes, indexed with at most nMaxParts parts
    // (0: no limit); null with *pResult saying why.
    static LoadedForm* Load(const unsigned char* pbBody, std::uint32_t cbBody, std::uint32_t nMaxParts,
                            PartsResult* pResult);

    void AddRef() { InterlockedIncrement(&m_lRefCount); }
    void Release();

    const FormParts& Parts() const { return m_parts; }
    const unsigned char* Body() const { return m_body.as<const unsigned char>(); }
    // The part's header texts and its value.
    const char* Text(std::uint32_t offset) const { return reinterpret_cast<const char*>(m_parts.Text() + offset); }
    const unsigned char* Value(const FormPart& part) const { return Body() + part.valueOffset; }

    LoadedForm() = default;
    LoadedForm(const LoadedForm&) = delete;
    LoadedForm& operator=(const LoadedForm&) = delete;

private:
    LONG m_lRefCount = 1;
    ModuleBlock m_body;
    FormParts m_parts;
};

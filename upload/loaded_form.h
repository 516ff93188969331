// A loaded request body and its index of parts, shared by the Upload object
// and every UploadedFile it hands out (the source of each, a part an item):
// a file stays readable after a later Load replaces the form, and after the
// Upload object is gone. A form read from a stream holds its text values in
// memory and its files on disk.
#pragma once
#include <windows.h>

#include <cstdint>
#include <utility>

#include "formscan/form_parts.h"
#include "platform/module_heap.h"
#include "uploadedfile/known_facts.h"
#include "uploadedfile/spool_file.h"
#include "uploadedfile/uploaded_file_source.h"

class LoadedForm final : public UploadedFileSource {
public:
    // A form holding a copy of the bytes, indexed with at most nMaxParts parts
    // (0: no limit); null with *pResult saying why.
    static LoadedForm* Load(const unsigned char* pbBody, std::uint32_t cbBody, std::uint32_t nMaxParts,
                            PartsResult* pResult);
    // A form read from a stream: its index, its text values (the index's
    // value offsets point into them) and its files (SpoolFile*[parts], null
    // where a part has none). Null without memory; what was given is then
    // released.
    static LoadedForm* Adopt(FormParts&& parts, ModuleBlock&& values, ModuleBlock&& files);

    void AddRef() override { InterlockedIncrement(&m_lRefCount); }
    void Release() override;

    const FormParts& Parts() const { return m_parts; }
    // The part's header texts and, for a value held in memory, its bytes.
    const char* Text(std::uint32_t offset) const { return reinterpret_cast<const char*>(m_parts.Text() + offset); }
    const unsigned char* Value(const FormPart& part) const { return Body() + part.valueOffset; }

    // Part iPart as an UploadedFile's source sees it: its texts (read in a
    // code page in part_text.cpp), and its value wherever it is held (never
    // all of it in memory at once when read in pieces).
    BSTR FieldName(std::uint32_t iPart, UINT uCodePage) const override;
    BSTR ClientFileName(std::uint32_t iPart, UINT uCodePage) const override;
    BSTR ContentType(std::uint32_t iPart, UINT uCodePage) const override;
    std::uint64_t Size(std::uint32_t iPart) const override { return m_parts.Part(iPart).valueLength; }
    DWORD ReadValue(std::uint32_t iPart, unsigned char* pb) const override;
    DWORD ReadPieces(std::uint32_t iPart, DWORD (*pfnPiece)(void*, const unsigned char*, DWORD),
                     void* pvContext) const override;
    DWORD SaveValue(std::uint32_t iPart, const wchar_t* pszPath, bool bReplace) override;

    // What the form knows of part iPart beyond its headers (null when the
    // form was made without facts).
    KnownFacts* Facts(std::uint32_t iPart) const override {
        return m_facts ? m_facts.as<KnownFacts>() + iPart : nullptr;
    }
    void SetFacts(ModuleBlock&& facts) { m_facts = std::move(facts); }

    LoadedForm() = default;
    ~LoadedForm();
    LoadedForm(const LoadedForm&) = delete;
    LoadedForm& operator=(const LoadedForm&) = delete;

private:
    static constexpr std::uint32_t kcbPiece = 4u << 20;

    const unsigned char* Body() const { return m_body.as<const unsigned char>(); }
    SpoolFile* File(std::uint32_t iPart) const { return m_files ? m_files.as<SpoolFile*>()[iPart] : nullptr; }
    DWORD SaveOnce(std::uint32_t iPart, const wchar_t* pszFullPath, bool bReplace);
    // Whether a file of this form held the file at the path, and let go of it.
    bool LetGoOfFileAt(const wchar_t* pszFullPath);

    LONG m_lRefCount = 1;
    ModuleBlock m_body;  // the body, or a stream's text values
    FormParts m_parts;
    ModuleBlock m_files;  // a stream's SpoolFile* per part
    ModuleBlock m_facts;  // KnownFacts per part
};

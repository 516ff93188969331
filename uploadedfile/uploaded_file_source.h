// Where an UploadedFile's bytes and texts are held: an item of a loaded
// form, or a file taken over from a store. Every file object holds a
// reference to its source, so a file stays readable after whatever handed
// it out is gone.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>

#include "uploadedfile/known_facts.h"

class UploadedFileSource {
public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;

    // Item iItem's texts, read in uCodePage where they are bytes; null
    // without memory. The client's file name keeps its folder, with control
    // characters (U+0000-U+001F, U+007F) as U+FFFD.
    virtual BSTR FieldName(std::uint32_t iItem, UINT uCodePage) const = 0;
    virtual BSTR ClientFileName(std::uint32_t iItem, UINT uCodePage) const = 0;
    virtual BSTR ContentType(std::uint32_t iItem, UINT uCodePage) const = 0;
    virtual std::uint64_t Size(std::uint32_t iItem) const = 0;

    // The item's bytes, wherever they are held: read into pb (Size bytes);
    // in pieces to pfnPiece(pvContext, pb, cb), which gives ERROR_SUCCESS or
    // the error that ends the reading; or saved as a new file, or with
    // bReplace in the place of a file there. ERROR_SUCCESS or the system's
    // code (save_file.h's own codes for refused targets).
    virtual DWORD ReadValue(std::uint32_t iItem, unsigned char* pb) const = 0;
    virtual DWORD ReadPieces(std::uint32_t iItem, DWORD (*pfnPiece)(void*, const unsigned char*, DWORD),
                             void* pvContext) const = 0;
    virtual DWORD SaveValue(std::uint32_t iItem, const wchar_t* pszPath, bool bReplace) = 0;

    // What is known of the item (null: nothing, and nothing is kept).
    virtual KnownFacts* Facts(std::uint32_t iItem) const = 0;

protected:
    ~UploadedFileSource() = default;
};

// The hash of an item's bytes, read once from wherever they are.
DWORD HashHeldFile(const UploadedFileSource& source, std::uint32_t iItem, HashAlgorithm algorithm,
                   unsigned char (&abDigest)[kcbMaxDigest]);

// A client's file name as shown to the page: control characters, a NUL
// above all, could hide the real extension from whoever reads the name only
// up to it, so each becomes U+FFFD.
void MaskControlCharacters(wchar_t* pch, UINT cch);

#include "upload/part_text.h"

#include "platform/multibyte_text.h"

BSTR PartName(const LoadedForm& form, const FormPart& part, UINT uCodePage) {
    return MultiByteToBstr(uCodePage, form.Text(part.nameOffset), static_cast<int>(part.nameLength));
}

BSTR PartFileName(const LoadedForm& form, const FormPart& part, UINT uCodePage) {
    const UINT uFileCodePage = (part.flags & kPartFileNameUtf8) ? CP_UTF8 : uCodePage;
    return MultiByteToBstr(uFileCodePage, form.Text(part.fileNameOffset), static_cast<int>(part.fileNameLength));
}

BSTR PartContentType(const LoadedForm& form, const FormPart& part, UINT uCodePage) {
    return MultiByteToBstr(uCodePage, form.Text(part.contentTypeOffset), static_cast<int>(part.contentTypeLength));
}

BSTR PartTextValue(const LoadedForm& form, const FormPart& part, UINT uCodePage) {
    // A string holds at most 2^31 - 1 characters; a longer value has no text.
    if (part.valueLength > 0x7FFFFFFFu) return nullptr;
    return MultiByteToBstr(uCodePage, reinterpret_cast<const char*>(form.Value(part)),
                           static_cast<int>(part.valueLength));
}

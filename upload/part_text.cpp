#include "upload/part_text.h"

#include "platform/multibyte_text.h"
#include "uploadedfile/uploaded_file_source.h"

BSTR LoadedForm::FieldName(std::uint32_t iPart, UINT uCodePage) const {
    const FormPart& part = m_parts.Part(iPart);
    return MultiByteToBstr(uCodePage, Text(part.nameOffset), static_cast<int>(part.nameLength));
}

BSTR LoadedForm::ClientFileName(std::uint32_t iPart, UINT uCodePage) const {
    const FormPart& part = m_parts.Part(iPart);
    return FileNameText(Text(part.fileNameOffset), part.fileNameLength, part.flags, uCodePage);
}

BSTR FileNameText(const char* pch, std::uint32_t cch, std::uint32_t flags, UINT uCodePage) {
    const UINT uFileCodePage = (flags & kPartFileNameUtf8) ? CP_UTF8 : uCodePage;
    BSTR bstrName = MultiByteToBstr(uFileCodePage, pch, static_cast<int>(cch));
    if (bstrName) MaskControlCharacters(bstrName, SysStringLen(bstrName));
    return bstrName;
}

BSTR LoadedForm::ContentType(std::uint32_t iPart, UINT uCodePage) const {
    const FormPart& part = m_parts.Part(iPart);
    return MultiByteToBstr(uCodePage, Text(part.contentTypeOffset), static_cast<int>(part.contentTypeLength));
}

BSTR PartTextValue(const LoadedForm& form, const FormPart& part, UINT uCodePage) {
    // A string holds at most 2^31 - 1 characters; a longer value has no text.
    if (part.valueLength > 0x7FFFFFFFu) return nullptr;
    return MultiByteToBstr(uCodePage, reinterpret_cast<const char*>(form.Value(part)),
                           static_cast<int>(part.valueLength));
}

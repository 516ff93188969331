// The texts of a loaded part as strings, in the page's code page.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "upload/loaded_form.h"

// The code page a CodePage property value stands for (0: the ANSI code page).
inline UINT EffectiveCodePage(long lCodePage) { return lCodePage == 0 ? CP_ACP : static_cast<UINT>(lCodePage); }

// A part's name, file name and content type are the form's own (its
// FieldName, ClientFileName and ContentType, defined with these). The file
// name the client sent, folder included, is decoded as UTF-8 when it came
// from filename*; control characters (U+0000-U+001F, U+007F) become U+FFFD.
// The same of a file name's text bytes and its part's flags:
BSTR FileNameText(const char* pch, std::uint32_t cch, std::uint32_t flags, UINT uCodePage);
BSTR PartTextValue(const LoadedForm& form, const FormPart& part, UINT uCodePage);

// A file part: one with a file name; an untouched file input sends an empty one.
inline bool IsFilePart(const FormPart& part) { return (part.flags & kPartHasFileName) && part.fileNameLength > 0; }
// A text part: one without a file name parameter.
inline bool IsTextPart(const FormPart& part) { return !(part.flags & kPartHasFileName); }

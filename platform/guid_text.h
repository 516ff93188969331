// A GUID as text, in the two forms the product writes: 36 lower-case hex
// digits with hyphens (CreateGUID's answer, server-made file names), and
// upper case in braces, as registry keys name classes and libraries.
#pragma once
#include <windows.h>

enum class GuidForm { kLowerBare, kUpperBraced };

// Room for either form and its terminator.
constexpr int kcchGuidText = 39;

// The text of the GUID in the form asked, terminated, narrow or wide: the
// system's own (UuidToStringA) in either case. False when the system cannot
// give it (without memory); szText is then empty.
bool GuidToText(const GUID& guid, GuidForm form, char (&szText)[kcchGuidText]);
bool GuidToText(const GUID& guid, GuidForm form, wchar_t (&szText)[kcchGuidText]);

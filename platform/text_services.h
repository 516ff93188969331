// The few ANSI code page services the portable cores need. On Windows they
// are the Win32 calls of the same meaning; the host build offers code pages
// 932 and 1252 so the cores' double-byte rules can be tested natively.
#pragma once

// Converts a NUL-terminated UTF-16 string to the ANSI code page, terminator
// included. With cbAnsi == 0 nothing is written and the size needed is
// returned. Returns the bytes written (terminator included), 0 on failure.
// Characters the code page lacks become its default character.
int TextWideToAnsi(const char16_t* pszWide, char* pszAnsi, int cbAnsi);

// As TextWideToAnsi, but only an exact conversion succeeds: a character that
// the code page lacks or holds only as a look-alike (best fit: a full-width
// dot as '.', the yen sign as '\\' in 932) gives 0 with *pbInexact true, so
// that no name ever reaches a file or a field it does not spell. Other
// failures give 0 with *pbInexact false.
int TextWideToAnsiExact(const char16_t* pszWide, char* pszAnsi, int cbAnsi, bool* pbInexact);

// Converts a NUL-terminated ANSI string to UTF-16, terminator included. With
// cchWide == 0 returns the size needed in UTF-16 units. Returns the units
// written (terminator included), 0 on failure.
int TextAnsiToWide(const char* pszAnsi, char16_t* pszWide, int cchWide);

// Next character of an ANSI string: steps over a double-byte character whole
// and never past the terminator.
const char* TextCharNext(const char* psz);

// True when the byte starts a double-byte character in the ANSI code page.
bool TextIsLeadByte(unsigned char ch);

// Case-insensitive comparison of two ANSI strings by the system's rules:
// < 0, 0 or > 0, as lstrcmpiA.
int TextCompareNoCase(const char* psz1, const char* psz2);

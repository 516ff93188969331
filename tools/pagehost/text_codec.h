// Text in the code pages a page and its response use: names of character
// sets, conversions both ways, and the URL encoding of form and query text.
#pragma once
#include <windows.h>

#include <string>

// The code page of a character set name as a response names it (Shift_JIS,
// UTF-8, ...); false for a name the host does not know.
bool CodePageOfCharset(const std::wstring& charset, UINT& uCodePage);

// Characters the code page lacks become its default character.
std::string Encode(const std::wstring& text, UINT uCodePage);
// False when the bytes are not text in that code page.
bool Decode(const char* pch, size_t cb, UINT uCodePage, std::wstring& text);
// Undecodable bytes become the code page's stand-in character.
std::wstring DecodeLoose(const std::string& bytes, UINT uCodePage);
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

// The text's bytes in the code page, with letters, digits and - . _ ~ kept,
// a space as "+" and every other byte as %XX.
std::wstring UrlEncode(const std::wstring& text, UINT uCodePage);
// "+" as a space and %XX as a byte, then the bytes read in the code page; a
// malformed % sequence stays as it was sent.
std::wstring UrlDecode(const std::wstring& text, UINT uCodePage);

// Conversions shared by the WebMng methods.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstddef>

#include "platform/bstr_text.h"
#include "platform/module_heap.h"

struct FormScan;

// Outcome of converting a name or path to the ANSI code page.
enum class AnsiConversion {
    kExact,
    kNoMemory,
    // The text holds a zero character before its end, or a character the code
    // page holds only as a look-alike or not at all: converting it anyway
    // would name another file (a full-width "．．＼" becoming "..\") or
    // another field.
    kRefused,
};

// ANSI (CP_ACP) copy of a string in a module-heap block that lives until the
// call returns. The block is sized from the conversion itself, so no code
// page can truncate a path.
class AnsiString {
public:
    AnsiConversion Convert(BSTR bstrWide);
    const char* get() const { return m_block.as<const char>(); }

private:
    ModuleBlock m_block;
};

// A new BSTR from ANSI text: the whole NUL-terminated string, or exactly cb
// bytes (zero bytes included). A null input gives a null string.
BSTR AnsiToWide(const char* pszAnsi);
BSTR AnsiToWide(const char* pchAnsi, int cb);

// The stored values of a scan, each followed by one comma byte, in one
// module-heap block of exactly that size. False when it cannot be had or
// holds more than INT32_MAX bytes before its last comma.
bool JoinValues(const FormScan& scan, ModuleBlock& buffer, std::size_t* pcbBuffer);

// The stored values of a scan (at least one) joined by commas, as a new
// string: ASCII values are widened directly, other text is joined and
// converted from the ANSI code page. Null with *pbNoWorkMemory true when the
// joined text cannot be had; null alone when the string cannot.
BSTR JoinedValuesToWide(const FormScan& scan, bool* pbNoWorkMemory);

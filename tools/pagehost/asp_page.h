// A classic page turned into the one script its engine runs: text outside
// the script delimiters becomes Response.Write calls, <%= expr %> writes the
// expression and <% code %> is code as it stands.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct PageScript {
    std::wstring language;          // the engine's ProgID: "VBScript" or "JScript"
    std::wstring text;
    std::vector<ULONG> pageLines;  // the page line (from 1) of each script line (from 0)

    ULONG PageLine(ULONG scriptLine) const;
};

// False, with the reason, when the page cannot be turned into a script.
bool TranslatePage(const std::wstring& page, PageScript& script, std::wstring& error);

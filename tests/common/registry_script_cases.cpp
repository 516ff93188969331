#include "registry_script_cases.h"

#include <gtest/gtest.h>

#include <algorithm>

Lines Sorted(Lines lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

void RunCases(ScriptRunner& runner, const std::vector<EngineCase>& cases) {
    for (const EngineCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        runner.Reset();
        runner.Seed(c.seed);
        if (c.hrRegister != kNotRun) {
            EXPECT_EQ(runner.Run(c.strScript, true), c.hrRegister);
            EXPECT_EQ(runner.Dump(), Sorted(c.afterRegister));
        }
        EXPECT_EQ(runner.Run(c.strScript, false), c.hrUnregister);
        EXPECT_EQ(runner.Dump(), Sorted(c.afterUnregister));
    }
}

std::vector<EngineCase> WritingCases() {
    return {
        {"empty script", {}, "", S_OK, {}, S_OK, {}},
        {"white space only", {}, " \r\n\t", DISP_E_EXCEPTION, {}, DISP_E_EXCEPTION, {}},
        {"values of every type, blanks around the root entries",
         {},
         "\r\n HKCU\r\n{\r\n\tApp = s 'Apartment'\r\n\t{\r\n\t\tval Count = d 10\r\n\t\tval Spaced = D ' 42 '\r\n"
         "\t\tval VbHex = d &h1f\r\n\t\tval Max = d 4294967295\r\n\t\tval Bytes = b 0aFF\r\n\t\tval Odd = B 0g\r\n\t\tval None = b ''\r\n"
         "\t\tval '' = s 'default through val'\r\n\t}\r\n}\r\n  ",
         S_OK,
         {"App", "App [] REG_SZ \"default through val\"", "App [Count] REG_DWORD 0x0000000a",
          "App [Spaced] REG_DWORD 0x0000002a", "App [VbHex] REG_DWORD 0x0000001f", "App [Max] REG_DWORD 0xffffffff", "App [Bytes] REG_BINARY 0a ff",
          "App [Odd] REG_BINARY 00", "App [None] REG_BINARY"},
         S_OK,
         {}},
        {"quoted names, keywords as names, names that look like syntax",
         {},
         "HKCU {abc 'It''s = { }' = s '' {6F} = s x x=y 'NoRemove' ForceRemove Z "
         "ForceRemove NoRemove val V = s v }",
         S_OK,
         {"[V] REG_SZ \"v\"", "ForceRemove", "It's = { }", "It's = { } [] REG_SZ \"\"", "x=y", "Z", "{6F}",
          "{6F} [] REG_SZ \"x\""},
         S_OK,
         {"ForceRemove", "Z"}},
        {"ForceRemove rebuilds its key empty before writing it",
         {"Foo\\Old\\Deep", "Foo [] old", "Foo [Named] n", "Bar\\Old"},
         "HKCU { ForceRemove Foo = s new { ForceRemove Bar } }",
         S_OK,
         {"Bar", "Bar\\Old", "Foo", "Foo [] REG_SZ \"new\"", "Foo\\Bar"},
         S_OK,
         {"Bar", "Bar\\Old"}},
        {"ForceRemove and Delete spare CLSID and TYPELIB",
         {"CLSID\\X", "TypeLib\\Y"},
         "HKCU { ForceRemove clsid Delete typelib }",
         S_OK,
         {"CLSID", "CLSID\\X", "TypeLib", "TypeLib\\Y"},
         S_OK,
         {"CLSID", "CLSID\\X", "TypeLib", "TypeLib\\Y"}},
        {"Delete removes a tree on registration and creates nothing",
         {"Gone\\Sub [v] x", "Kept"},
         "HKCU { Delete Gone = s 'not written' Kept }",
         S_OK,
         {"Kept"},
         S_OK,
         {"Kept"}},  // Gone is missing then, so the rest of the block is only walked
        {"Delete is a key statement on unregistration",
         {"Gone [] x", "Other\\Sub"},
         "HKCU { Delete Gone Delete Other }",
         kNotRun,
         {},
         S_OK,
         {"Other", "Other\\Sub"}},
        {"NoRemove keeps its key and later keys of its block, not those of nested blocks",
         {},
         "HKCU { First NoRemove A { C { D } } B }",
         S_OK,
         {"A", "A\\C", "A\\C\\D", "B", "First"},
         S_OK,
         {"A", "B"}},
        {"unregistration spares keys with foreign subkeys only",
         {"App\\Foreign", "Named [Other] z"},
         "HKCU { App = s a { Sub = s x } Plain = s y { } Named = s n { val Listed = s l } }",
         S_OK,
         {"App", "App [] REG_SZ \"a\"", "App\\Foreign", "App\\Sub", "App\\Sub [] REG_SZ \"x\"", "Named",
          "Named [Other] REG_SZ \"z\"", "Named [] REG_SZ \"n\"", "Named [Listed] REG_SZ \"l\"", "Plain",
          "Plain [] REG_SZ \"y\""},
         S_OK,
         {"App", "App [] REG_SZ \"a\"", "App\\Foreign"}},
        {"val statements remove their values from a key that stays",
         {"Keep\\Foreign"},
         "HKCU { Keep { val Mine = s m } }",
         S_OK,
         {"Keep", "Keep [Mine] REG_SZ \"m\"", "Keep\\Foreign"},
         S_OK,
         {"Keep", "Keep\\Foreign"}},
        {"a missing key is walked without changes and its siblings still go",
         {"B", "C\\D", "F"},
         "HKCU { Missing = s x { F } B C { D } }",
         kNotRun,
         {},
         S_OK,
         {"F"}},
        {"a missing key without a block leaves the rest of its block walked",
         {"B", "C\\D", "Later\\X"},
         "HKCU { Missing = s x B C { D } } HKCU { Later { X } }",
         kNotRun,
         {},
         S_OK,
         {"B", "C", "C\\D"}},
        {"the block of a deleted key is walked without changes",
         {"E", "F"},
         "HKCU { E { F } }",
         kNotRun,
         {},
         S_OK,
         {"F"}},
    };
}

std::vector<EngineCase> FailureCases() {
    return {
        {"root key not in the table", {}, "HKXX { A }", DISP_E_EXCEPTION, {}, DISP_E_EXCEPTION, {}},
        {"root key without a block", {}, "HKCU A", DISP_E_EXCEPTION, {}, DISP_E_EXCEPTION, {}},
        {"text after the last root block", {}, "HKCU { A } }", DISP_E_EXCEPTION, {"A"}, DISP_E_EXCEPTION, {}},
        {"backslash in a key name", {"A\\B"}, "HKCU { A\\B }", DISP_E_EXCEPTION, {"A", "A\\B"},
         DISP_E_EXCEPTION, {"A", "A\\B"}},
        {"backslash after ForceRemove", {"A\\B"}, "HKCU { ForceRemove A\\B }", DISP_E_EXCEPTION,
         {"A", "A\\B"}, DISP_E_EXCEPTION, {"A", "A\\B"}},
        {"val without =", {}, "HKCU { val V s x }", DISP_E_EXCEPTION, {}, DISP_E_EXCEPTION, {}},
        {"unknown type letter, unregistration does not check it", {}, "HKCU { A = s x B = q y }",
         DISP_E_EXCEPTION, {}, S_OK, {}},
        {"end of text inside a block", {}, "HKCU { A = s x", DISP_E_EXCEPTION, {}, DISP_E_EXCEPTION, {}},
        {"odd binary text", {}, "HKCU { A { val V = b abc } }", E_FAIL, {}, S_OK, {}},
        {"a failure in the second root block keeps the first",
         {},
         "HKCU { First = s 1 } HKCU { Second = s 2 { Third = q 3 } }",
         DISP_E_EXCEPTION,
         {"First", "First [] REG_SZ \"1\""},
         S_OK,
         {}},
        {"rollback keeps keys that still hold foreign subkeys",
         {"Old\\Foreign"},
         "HKCU { Old = s x { New = s y } Bad = s }",
         DISP_E_EXCEPTION,
         {"Old", "Old [] REG_SZ \"x\"", "Old\\Foreign"},
         DISP_E_EXCEPTION,
         {"Old", "Old [] REG_SZ \"x\"", "Old\\Foreign"}},
    };
}

std::vector<EngineCase> RefusalCases() {
    const std::string strName259(259, 'n'), strName260(260, 'n');
    return {
        {"bare token longer than the token buffer", {}, "HKCU { A = s " + std::string(4096, 'v') + " }",
         DISP_E_EXCEPTION, {}, DISP_E_EXCEPTION, {}},
        {"value name of 259 bytes", {"A"}, "HKCU { A { val " + strName259 + " = s x } }", S_OK,
         {"A", "A [" + strName259 + "] REG_SZ \"x\""}, S_OK, {}},
        {"value name longer than its buffer", {"A\\Sub"}, "HKCU { A { val " + strName260 + " = s x } }",
         DISP_E_EXCEPTION, {"A", "A\\Sub"}, DISP_E_EXCEPTION, {"A", "A\\Sub"}},
        {"key name longer than its buffer", {}, "HKCU { " + strName260 + " }", DISP_E_EXCEPTION, {},
         DISP_E_EXCEPTION, {}},
        {"number text that is not a number", {}, "HKCU { A = d 12x }", DISP_E_EXCEPTION, {}, S_OK, {}},
        {"number too large", {}, "HKCU { A = d 4294967296 }", DISP_E_EXCEPTION, {}, S_OK, {}},
        {"a C hexadecimal number", {}, "HKCU { A = d 0x1F }", DISP_E_EXCEPTION, {}, S_OK, {}},
        {"block after a val statement", {}, "HKCU { val V = s x { } }", DISP_E_EXCEPTION, {},
         DISP_E_EXCEPTION, {}},
        {"block after a Delete statement", {"A"}, "HKCU { Delete A { } }", DISP_E_EXCEPTION, {},
         DISP_E_EXCEPTION, {}},
        // An empty name would stand for the parent: ForceRemove '' would empty it.
        {"empty key name after ForceRemove", {"Keep"}, "HKCU { ForceRemove '' }", DISP_E_EXCEPTION, {"Keep"},
         DISP_E_EXCEPTION, {"Keep"}},
        {"empty key name", {"Keep\\Child"}, "HKCU { Keep { '' = s x } }", DISP_E_EXCEPTION,
         {"Keep", "Keep\\Child"}, DISP_E_EXCEPTION, {"Keep", "Keep\\Child"}},
    };
}

Lines WebMngScriptEntries(const std::string& strModule) {
    const std::string kClass = "CLSID\\{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}";
    return {
        "CLSID",
        kClass,
        kClass + " [] REG_SZ \"WebMng Class\"",
        kClass + "\\InprocServer32",
        kClass + "\\InprocServer32 [] REG_SZ \"" + strModule + "\"",
        kClass + "\\InprocServer32 [ThreadingModel] REG_SZ \"Apartment\"",
        kClass + "\\ProgID",
        kClass + "\\ProgID [] REG_SZ \"VARO.WebMng.1\"",
        kClass + "\\Programmable",
        kClass + "\\TypeLib",
        kClass + "\\TypeLib [] REG_SZ \"{A47E5D11-8C23-4B9A-B6E2-5D0F3C19A7E8}\"",
        kClass + "\\VersionIndependentProgID",
        kClass + "\\VersionIndependentProgID [] REG_SZ \"VARO.WebMng\"",
        "VARO.WebMng",
        "VARO.WebMng [] REG_SZ \"WebMng Class\"",
        "VARO.WebMng\\CLSID",
        "VARO.WebMng\\CLSID [] REG_SZ \"{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}\"",
        "VARO.WebMng\\CurVer",
        "VARO.WebMng\\CurVer [] REG_SZ \"VARO.WebMng.1\"",
        "VARO.WebMng.1",
        "VARO.WebMng.1 [] REG_SZ \"WebMng Class\"",
        "VARO.WebMng.1\\CLSID",
        "VARO.WebMng.1\\CLSID [] REG_SZ \"{6F1D2C40-3B1A-4E52-9C7D-2A5B8E61F034}\"",
    };
}

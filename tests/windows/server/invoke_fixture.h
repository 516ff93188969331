// A WebMng reached the way a page script reaches it: through IDispatch, with
// the type library registered for the test, and a scratch directory.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "dll_client.h"

class InvokeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A path in the scratch directory, as the script passes it.
    std::wstring PathOf(const std::string& name) const;
    std::string AnsiPathOf(const std::string& name) const { return m_dir + name; }
    std::wstring Directory() const { return std::wstring(m_dir.begin(), m_dir.end()); }

    ComApartment m_apartment;
    VaroDll m_dll;
    IDispatch* m_pObject = nullptr;
    std::string m_dir;  // ends with a backslash
};

std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// A failed call as the script engine reports it.
void ExpectException(const ScriptCall& call, HRESULT hr, const wchar_t* pszDescription);

// What the Windows tests of the WebMng methods share: an object to call the
// methods on, request bodies as byte arrays, the thread's error information
// and the module heap's live blocks.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "webmng/webmng_methods.h"
#include "ja_messages.h"
#include "multipart_body.h"
#include "variant_bytes.h"

// The methods on an object whose identity is not under test.
class TestWebMng : public WebMngMethods {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override { *ppv = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

// A VT_ARRAY|VT_UI1 variant holding a copy of the bytes; cleared on scope end.
class ByteArrayVariant {
public:
    explicit ByteArrayVariant(const std::string& bytes);
    ~ByteArrayVariant() { VariantClear(&m_var); }
    ByteArrayVariant(const ByteArrayVariant&) = delete;
    ByteArrayVariant& operator=(const ByteArrayVariant&) = delete;
    VARIANT* get() { return &m_var; }

private:
    VARIANT m_var;
};


// The byte-array arguments every method refuses with "配列型ではありません。":
// a string, the array type without an array, the array by reference, and
// byte-array variants whose array is not one-dimensional bytes: two
// dimensions, four-byte elements, and an element count without data.
class RefusedArrays {
public:
    explicit RefusedArrays(ByteArrayVariant& array);
    ~RefusedArrays();
    RefusedArrays(const RefusedArrays&) = delete;
    RefusedArrays& operator=(const RefusedArrays&) = delete;
    VARIANT* text() { return &m_text; }
    VARIANT* noArray() { return &m_noArray; }
    VARIANT* byRef() { return &m_byRef; }
    VARIANT* twoDimensions() { return &m_twoDimensions; }
    VARIANT* wideElements() { return &m_wideElements; }
    VARIANT* countWithoutData() { return &m_countWithoutData; }

    struct Row {
        const char* label;
        VARIANT* pvar;
    };
    // Every refused shape but the string (which some tables use with a null
    // name to show which check comes first).
    std::vector<Row> Shapes();

private:
    SAFEARRAY* m_psa;
    SAFEARRAY m_noData;
    VARIANT m_text, m_noArray, m_byRef, m_twoDimensions, m_wideElements, m_countWithoutData;
};

// The thread's error information, taken (and so cleared) by the read.
struct PublishedError {
    bool bPresent = false;
    std::wstring source, description;
    GUID guid = GUID_NULL;
};
PublishedError TakeError();
void ClearError();

// Blocks now allocated in the module's heaps.
long ModuleHeapBusyBlocks();

// The ANSI code page the test runs under (932 or 1252).
inline UINT CodePage() { return GetACP(); }

// COM and module state for every test of a program.
class WebMngEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

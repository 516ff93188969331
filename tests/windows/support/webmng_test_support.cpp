#include "webmng_test_support.h"
#include "heap_walk.h"

#include <cstring>

#include "platform/module_state.h"

ByteArrayVariant::ByteArrayVariant(const std::string& bytes) {
    VariantInit(&m_var);
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
    m_var.parray = SafeArrayCreate(VT_UI1, 1, &bound);
    m_var.vt = VT_ARRAY | VT_UI1;
    void* pv = nullptr;
    if (m_var.parray && SUCCEEDED(SafeArrayAccessData(m_var.parray, &pv))) {
        if (!bytes.empty()) std::memcpy(pv, bytes.data(), bytes.size());
        SafeArrayUnaccessData(m_var.parray);
    }
}

RefusedArrays::RefusedArrays(ByteArrayVariant& array) : m_psa(array.get()->parray) {
    VariantInit(&m_text);
    m_text.vt = VT_BSTR;
    m_text.bstrVal = SysAllocString(L"not bytes");
    VariantInit(&m_noArray);
    m_noArray.vt = VT_ARRAY | VT_UI1;
    VariantInit(&m_byRef);
    m_byRef.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
    m_byRef.pparray = &m_psa;

    SAFEARRAYBOUND square[2] = {{4, 0}, {4, 0}};
    VariantInit(&m_twoDimensions);
    m_twoDimensions.vt = VT_ARRAY | VT_UI1;
    m_twoDimensions.parray = SafeArrayCreate(VT_UI1, 2, square);
    VariantInit(&m_wideElements);
    m_wideElements.vt = VT_ARRAY | VT_UI1;
    m_wideElements.parray = SafeArrayCreate(VT_I4, 1, square);

    // A descriptor that promises 64 bytes and holds none: reading it would
    // read whatever lies at address 0 onwards, or the caller's own memory.
    std::memset(&m_noData, 0, sizeof m_noData);
    m_noData.cDims = 1;
    m_noData.fFeatures = FADF_STATIC;
    m_noData.cbElements = 1;
    m_noData.rgsabound[0].cElements = 64;
    VariantInit(&m_countWithoutData);
    m_countWithoutData.vt = VT_ARRAY | VT_UI1;
    m_countWithoutData.parray = &m_noData;
}

RefusedArrays::~RefusedArrays() {
    SysFreeString(m_text.bstrVal);
    SafeArrayDestroy(m_twoDimensions.parray);
    SafeArrayDestroy(m_wideElements.parray);
}

std::vector<RefusedArrays::Row> RefusedArrays::Shapes() {
    return {
        {"by-reference byte array", byRef()},
        {"byte array type without an array", noArray()},
        {"two-dimensional byte array", twoDimensions()},
        {"array of four-byte elements", wideElements()},
        {"element count without data", countWithoutData()},
    };
}

PublishedError TakeError() {
    PublishedError error;
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || !pInfo) return error;
    error.bPresent = true;
    BSTR bstr = nullptr;
    if (SUCCEEDED(pInfo->GetSource(&bstr)) && bstr) error.source.assign(bstr, SysStringLen(bstr));
    SysFreeString(bstr);
    bstr = nullptr;
    if (SUCCEEDED(pInfo->GetDescription(&bstr)) && bstr) error.description.assign(bstr, SysStringLen(bstr));
    SysFreeString(bstr);
    pInfo->GetGUID(&error.guid);
    pInfo->Release();
    return error;
}

void ClearError() { SetErrorInfo(0, nullptr); }

long ModuleHeapBusyBlocks() {
    long lBusy = HeapBusyBlocks(g_ModuleState.hBaseHeap);
    if (g_ModuleState.phProcessorHeaps)
        for (DWORD i = 0; i <= g_ModuleState.dwHeapMask; ++i) lBusy += HeapBusyBlocks(g_ModuleState.phProcessorHeaps[i]);
    return lBusy;
}

void WebMngEnvironment::SetUp() {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    // The module heap as on any NT 5+ server: the base heap alone.
    PlatformFacts facts{VER_PLATFORM_WIN32_NT, 5, 1};
    ASSERT_EQ(S_OK, InitModule(nullptr, GetModuleHandleA(nullptr), &facts));
}

void WebMngEnvironment::TearDown() {
    TermModule();
    CoUninitialize();
}

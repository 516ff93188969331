#include "webmng_test_support.h"
#include "heap_walk.h"

#include <cstring>

#include "server/module_state.h"

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

std::string BytesOf(const VARIANT& var) {
    if (var.vt != (VT_ARRAY | VT_UI1) || !var.parray) return std::string();
    void* pv = nullptr;
    if (FAILED(SafeArrayAccessData(var.parray, &pv))) return std::string();
    std::string bytes(static_cast<const char*>(pv), var.parray->rgsabound[0].cElements);
    SafeArrayUnaccessData(var.parray);
    return bytes;
}

const char kBoundary[] = "----WebKitFormBoundaryVaro7Ff3";

std::string TextPart(const std::string& name, const std::string& value) {
    return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

std::string FilePart(const std::string& name, const std::string& filename, const std::string& content,
                     const std::string& type) {
    return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           filename + "\"\r\nContent-Type: " + type + "\r\n\r\n" + content + "\r\n";
}

std::string Body(const std::vector<std::string>& parts) {
    std::string body;
    for (const std::string& part : parts) body += part;
    return body + "--" + kBoundary + "--\r\n";
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

namespace JaMsg {
const wchar_t kItemNameNull[] = L"アイテム名がNULLです。";
const wchar_t kNotArrayType[] = L"配列型ではありません。";
const wchar_t kException[] = L"例外エラー";
const wchar_t kSystemError[] = L"システムエラー";
const wchar_t kWorkMemory[] = L"作業領域メモリを確保できませんでした。";
const wchar_t kFileNameNull[] = L"ファイル名がNULLです。";
const wchar_t kPathNameNull[] = L"パス名がNULLです。";
const wchar_t kFileOpenError[] = L"ファイルオープンエラー";
const wchar_t kFileWriteError[] = L"ファイル書き込みエラー";
const wchar_t kFileReadError[] = L"ファイル読み込みエラー";
const wchar_t kFileDeleteFailed[] = L"ファイルの削除が失敗しました。";
const wchar_t kGuidError[] = L"GUIDの生成エラー";
}  // namespace JaMsg

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

// The one error path: what a failure publishes and the status it gives, and
// its description read back without taking it from the thread.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/com_ptr.h"
#include "platform/error_info.h"
#include "platform/messages.h"

namespace {

// A class no registry knows: its failures carry no source.
const CLSID kUnregistered = {0x5d0c9e1a, 0x2b7f, 0x4c61, {0x9a, 0x3e, 0x11, 0x52, 0x7c, 0x0d, 0xe4, 0x88}};
constexpr ErrorSource kSource(kUnregistered, IID_IDispatch);

struct Published {
    std::wstring description;
    GUID guid;
    bool bSource;
};

// Takes the thread's error information (which clears it).
bool TakeErrorInfo(Published* pPublished) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return false;
    BSTR bstr = nullptr;
    info->GetDescription(&bstr);
    pPublished->description = bstr ? bstr : L"";
    SysFreeString(bstr);
    info->GetGUID(&pPublished->guid);
    bstr = nullptr;
    info->GetSource(&bstr);
    pPublished->bSource = bstr && bstr[0];
    SysFreeString(bstr);
    return true;
}

struct FailureCase {
    const char* pszName;
    HRESULT (*pfnFail)();
    HRESULT hrExpected;
    const wchar_t* pszExpected;
};

TEST(ErrorSource, PublishesTheMessageAndGivesTheStatus) {
    const FailureCase cases[] = {
        {"plain", [] { return kSource.Fail(E_FAIL, Msg::kException); }, E_FAIL, L"例外エラー"},
        {"the status given", [] { return kSource.Fail(E_INVALIDARG, Msg::kItemNameNull); }, E_INVALIDARG,
         L"アイテム名がNULLです。"},
        {"one number", [] { return kSource.Fail(E_INVALIDARG, Msg::kTooManyParts, 12L); }, E_INVALIDARG,
         L"パートの数が MaxParts (12) を超えています。"},
        {"a negative number", [] { return kSource.Fail(E_INVALIDARG, Msg::kBadCodePage, -3L); }, E_INVALIDARG,
         L"コードページ -3 はこのサーバーでは使えません。"},
        {"two strings", [] { return kSource.FailText(E_FAIL, Msg::kMaxBytes, L"300", L"200"); }, E_FAIL,
         L"リクエスト本文 (300 バイト) が MaxBytes (200 バイト) を超えています。"},
        {"one string", [] { return kSource.FailText(E_INVALIDARG, Msg::kBadLimit, L"MaxBytes"); }, E_INVALIDARG,
         L"MaxBytes には 0 以上の数を指定してください。"},
        {"no memory", [] { return kSource.NoMemory(); }, E_OUTOFMEMORY, L"作業領域メモリを確保できませんでした。"},
        {"a code the system has no text for", [] { return kSource.FailSystem(Msg::kSaveFailed, 0x2000FFFFu); },
         HRESULT_FROM_WIN32(0x2000FFFFu), L"ファイルを保存できませんでした。 (コード 536936447)"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(c.hrExpected, c.pfnFail());
        Published published{};
        ASSERT_TRUE(TakeErrorInfo(&published));
        EXPECT_EQ(std::wstring(c.pszExpected), published.description);
        EXPECT_TRUE(IsEqualGUID(IID_IDispatch, published.guid));
        EXPECT_FALSE(published.bSource) << "no ProgID, no source";
    }
}

TEST(ErrorSource, SystemFailureCarriesTheSystemsTextOnOneLine) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), kSource.FailSystem(Msg::kSaveFailed, ERROR_ACCESS_DENIED));
    Published published{};
    ASSERT_TRUE(TakeErrorInfo(&published));
    const std::wstring& text = published.description;
    const std::wstring start = std::wstring(Msg::kSaveFailed) + L" (";
    const std::wstring end = L" コード 5)";
    ASSERT_GT(text.size(), start.size() + end.size()) << "the system's own words between them";
    EXPECT_EQ(start, text.substr(0, start.size()));
    EXPECT_EQ(end, text.substr(text.size() - end.size()));
    EXPECT_EQ(std::wstring::npos, text.find_first_of(L"\r\n"));
}

struct ThreadErrorCase {
    const char* pszWhat;
    void (*pfnSet)();
    const wchar_t* pszDescription;  // null: none read
    bool bLeftInPlace;
};

// An error object of the thread with no description set.
void PublishWithoutDescription() {
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(CreateErrorInfo(create.put())) && SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.get());
}

TEST(ThreadErrorDescription, ReadsTheDescriptionAndLeavesItForTheCaller) {
    const ThreadErrorCase cases[] = {
        {"a published failure", [] { kSource.Fail(E_INVALIDARG, Msg::kBadProgressId); },
         L"ProgressID には 1 から 64 文字の英数字と - だけを指定してください。", true},
        {"an error without a description", PublishWithoutDescription, nullptr, true},
        {"no error", [] {}, nullptr, false},
    };
    for (const ThreadErrorCase& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SetErrorInfo(0, nullptr);
        c.pfnSet();
        const UniqueBstr description = ThreadErrorDescription();
        if (c.pszDescription) {
            ASSERT_TRUE(description);
            EXPECT_EQ(std::wstring(c.pszDescription), std::wstring(description.get(), SysStringLen(description.get())));
        } else {
            EXPECT_FALSE(description && description.get()[0]) << "nothing to read";
        }
        Published published{};
        EXPECT_EQ(c.bLeftInPlace, TakeErrorInfo(&published)) << "the thread's error object is still there";
        if (c.pszDescription) EXPECT_EQ(std::wstring(c.pszDescription), published.description);
    }
}

TEST(ComPtr, MovesItsOneReferenceAndQueriesTyped) {
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(S_OK, CreateErrorInfo(create.put()));
    ICreateErrorInfo* const pCreate = create.get();
    ComPtr<ICreateErrorInfo> moved(std::move(create));
    EXPECT_FALSE(create);
    EXPECT_EQ(pCreate, moved.get());
    ComPtr<ICreateErrorInfo> assigned;
    assigned = std::move(moved);
    EXPECT_FALSE(moved);
    // One reference throughout: this AddRef makes the second.
    EXPECT_EQ(2u, assigned->AddRef());
    assigned->Release();

    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, assigned.As(&info));
    EXPECT_TRUE(info);
    ComPtr<ITypeInfo> notThere;
    EXPECT_EQ(E_NOINTERFACE, assigned.As(&notThere));
    EXPECT_FALSE(notThere);
}

}  // namespace

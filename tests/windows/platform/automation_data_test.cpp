// SAFEARRAY ownership and locks, byte arrays in and out, VARIANT arrays,
// ScopedVariant and GUID text, checked against the system's own answers.
#include <gtest/gtest.h>
#include <rpc.h>

#include <cstring>
#include <string>
#include <utility>

#include "platform/byte_array.h"
#include "platform/guid_text.h"
#include "platform/safe_array.h"
#include "platform/scoped_variant.h"
#include "platform/variant_array.h"

namespace {

UniqueSafeArray NewBytes(const char* pszBytes) {
    const ULONG cb = static_cast<ULONG>(std::strlen(pszBytes));
    UniqueSafeArray array(SafeArrayCreateVector(VT_UI1, 0, cb));
    void* pv = nullptr;
    if (array && SUCCEEDED(SafeArrayAccessData(array.get(), &pv))) {
        std::memcpy(pv, pszBytes, cb);
        SafeArrayUnaccessData(array.get());
    }
    return array;
}

TEST(SafeArrayAccess, EveryLockIsGivenBackOnce) {
    UniqueSafeArray first = NewBytes("abc"), second = NewBytes("de");
    ASSERT_TRUE(first && second);
    {
        SafeArrayAccess access;
        ASSERT_TRUE(access.Lock(first.get()));
        EXPECT_EQ(1u, first.get()->cLocks);
        EXPECT_EQ(0, std::memcmp(access.data<const char>(), "abc", 3));
        // Locking another array gives the first one's lock back.
        ASSERT_TRUE(access.Lock(second.get()));
        EXPECT_EQ(0u, first.get()->cLocks);
        EXPECT_EQ(1u, second.get()->cLocks);
        EXPECT_TRUE(access.Unlock());
        EXPECT_EQ(0u, second.get()->cLocks);
        EXPECT_FALSE(access.Unlock()) << "nothing held: nothing to give back";
        ASSERT_TRUE(access.Lock(first.get()));
    }
    EXPECT_EQ(0u, first.get()->cLocks) << "the scope's end gives the lock back";
    // A locked array cannot be destroyed: a lock left behind would leak it.
    EXPECT_EQ(S_OK, SafeArrayDestroy(first.release()));
}

TEST(SafeArrayOwner, HandsOverToTheVariantOrDestroys) {
    UniqueSafeArray array = NewBytes("xy");
    SAFEARRAY* const psa = array.get();
    UniqueSafeArray moved(std::move(array));
    EXPECT_FALSE(array);
    EXPECT_EQ(psa, moved.get());
    ScopedVariant var;
    MoveArrayTo(moved, VT_UI1, var.get());
    EXPECT_FALSE(moved);
    EXPECT_EQ(VT_ARRAY | VT_UI1, var->vt);
    EXPECT_EQ(psa, var->parray);
}

struct ArgCase {
    const char* pszName;
    VARTYPE vt;
    USHORT cDims;
    ULONG cbElements;
    ULONG cElements;
    bool bData;
    bool bAccepted;
};

TEST(ByteArrayArg, OnlyOneDimensionOfBytesByValue) {
    const ArgCase cases[] = {
        {"bytes", VT_ARRAY | VT_UI1, 1, 1, 4, true, true},
        {"no elements, no data", VT_ARRAY | VT_UI1, 1, 1, 0, false, true},
        {"by reference", VT_BYREF | VT_ARRAY | VT_UI1, 1, 1, 4, true, false},
        {"array of variants", VT_ARRAY | VT_VARIANT, 1, 1, 4, true, false},
        {"two dimensions", VT_ARRAY | VT_UI1, 2, 1, 4, true, false},
        {"two-byte elements", VT_ARRAY | VT_UI1, 1, 2, 4, true, false},
        {"elements without data", VT_ARRAY | VT_UI1, 1, 1, 4, false, false},
    };
    unsigned char abData[8] = {};
    for (const ArgCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        // Only the descriptor's fields are read, never a second bound.
        SAFEARRAY descriptor{};
        descriptor.cDims = c.cDims;
        descriptor.cbElements = c.cbElements;
        descriptor.rgsabound[0].cElements = c.cElements;
        descriptor.pvData = c.bData ? abData : nullptr;
        VARIANT var;
        var.vt = c.vt;
        var.parray = &descriptor;
        EXPECT_EQ(c.bAccepted, IsByteArrayArg(&var));
    }
    VARIANT none;
    none.vt = VT_ARRAY | VT_UI1;
    none.parray = nullptr;
    EXPECT_FALSE(IsByteArrayArg(&none));
}

TEST(LockedByteArray, ReadsTheArgumentsBytesAndUnlocks) {
    UniqueSafeArray array = NewBytes("body");
    {
        LockedByteArray bytes;
        ASSERT_TRUE(bytes.Lock(array.get()));
        EXPECT_EQ(4u, bytes.size());
        EXPECT_EQ(0, std::memcmp(bytes.data(), "body", 4));
        EXPECT_TRUE(bytes.Unlock());
        EXPECT_FALSE(bytes.Unlock());
        ASSERT_TRUE(bytes.Lock(array.get()));
    }
    EXPECT_EQ(0u, array.get()->cLocks);
}

TEST(MakeByteArray, CopiesIntoANewUnlockedArray) {
    for (ULONG cb : {0u, 1u, 300u}) {
        SCOPED_TRACE(cb);
        std::string bytes(cb, '\0');
        for (ULONG i = 0; i < cb; ++i) bytes[i] = static_cast<char>(i * 7);
        ScopedVariant var;
        ASSERT_TRUE(MakeByteArray(var.get(), bytes.data(), cb));
        ASSERT_EQ(VT_ARRAY | VT_UI1, var->vt);
        SAFEARRAY* psa = var->parray;
        EXPECT_EQ(1u, SafeArrayGetDim(psa));
        EXPECT_EQ(0, psa->rgsabound[0].lLbound);
        EXPECT_EQ(cb, psa->rgsabound[0].cElements);
        EXPECT_EQ(0u, psa->cLocks);
        if (cb) EXPECT_EQ(0, std::memcmp(psa->pvData, bytes.data(), cb));
    }
}

TEST(VariantArray, HandsOverEveryElementUnlocked) {
    for (ULONG c : {0u, 3u}) {
        SCOPED_TRACE(c);
        VariantArray array(c);
        ASSERT_TRUE(array);
        for (ULONG i = 0; i < c; ++i) {
            EXPECT_EQ(VT_EMPTY, array.Element(i).vt);
            array.Element(i).vt = VT_I4;
            array.Element(i).lVal = static_cast<LONG>(10 * i);
        }
        ScopedVariant var;
        array.MoveTo(var.get());
        ASSERT_EQ(VT_ARRAY | VT_VARIANT, var->vt);
        SAFEARRAY* psa = var->parray;
        EXPECT_EQ(0u, psa->cLocks);
        EXPECT_EQ(0, psa->rgsabound[0].lLbound);
        ASSERT_EQ(c, psa->rgsabound[0].cElements);
        for (ULONG i = 0; i < c; ++i) {
            const VARIANT& element = static_cast<const VARIANT*>(psa->pvData)[i];
            EXPECT_EQ(VT_I4, element.vt);
            EXPECT_EQ(static_cast<LONG>(10 * i), element.lVal);
        }
    }
}

TEST(ScopedVariant, ReleaseHandsOnTheValueAndResetClearsIt) {
    ScopedVariant var;
    var.get()->vt = VT_BSTR;
    var.get()->bstrVal = SysAllocString(L"kept");
    VARIANT out = var.release();
    EXPECT_EQ(VT_EMPTY, var->vt);
    ASSERT_EQ(VT_BSTR, out.vt);
    EXPECT_STREQ(L"kept", out.bstrVal);
    EXPECT_EQ(S_OK, VariantClear(&out));

    var.get()->vt = VT_BSTR;
    var.get()->bstrVal = SysAllocString(L"cleared");
    var.reset();
    EXPECT_EQ(VT_EMPTY, var->vt);
}

TEST(GuidToText, MatchesTheSystemsTextInBothForms) {
    const GUID guids[] = {
        {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {0xFFFFFFFFu, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0x0123ABCDu, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
        {0xA0B1C2D3u, 0x0E0F, 0xF0E0, {0x10, 0x0A, 0xB0, 0x0C, 0xD0, 0x0E, 0xF0, 0x09}},
    };
    for (const GUID& guid : guids) {
        wchar_t szSystem[kcchGuidText];
        ASSERT_EQ(kcchGuidText, StringFromGUID2(guid, szSystem, kcchGuidText));
        SCOPED_TRACE(testing::Message() << std::string(szSystem, szSystem + 38));
        wchar_t szBraced[kcchGuidText];
        ASSERT_TRUE(GuidToText(guid, GuidForm::kUpperBraced, szBraced));
        EXPECT_STREQ(szSystem, szBraced);
        char szBracedNarrow[kcchGuidText];
        ASSERT_TRUE(GuidToText(guid, GuidForm::kUpperBraced, szBracedNarrow));
        EXPECT_EQ(std::string(szSystem, szSystem + 38), szBracedNarrow);

        GUID copy = guid;
        RPC_CSTR pszRpc = nullptr;
        ASSERT_EQ(RPC_S_OK, UuidToStringA(&copy, &pszRpc));
        char szBare[kcchGuidText];
        ASSERT_TRUE(GuidToText(guid, GuidForm::kLowerBare, szBare));
        EXPECT_STREQ(reinterpret_cast<const char*>(pszRpc), szBare);
        wchar_t szBareWide[kcchGuidText];
        ASSERT_TRUE(GuidToText(guid, GuidForm::kLowerBare, szBareWide));
        EXPECT_EQ(std::wstring(szBare, szBare + 36), szBareWide);
        RpcStringFreeA(&pszRpc);
    }
}

}  // namespace

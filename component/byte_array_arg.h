// The byte-array argument of the form and write methods.
#pragma once
#include <windows.h>
#include <oleauto.h>

// Only VT_ARRAY|VT_UI1 exactly, with an array behind it, is accepted; a
// by-reference form is refused.
inline bool IsByteArrayArg(const VARIANT* pvar) {
    return pvar->vt == (VT_ARRAY | VT_UI1) && pvar->parray != nullptr;
}

// Holds the argument's data locked for the call. Unlock() reports whether the
// unlock succeeded; a lock still held on another way out is released here.
class LockedByteArray {
public:
    ~LockedByteArray() { if (m_psa) SafeArrayUnaccessData(m_psa); }
    LockedByteArray() = default;
    LockedByteArray(const LockedByteArray&) = delete;
    LockedByteArray& operator=(const LockedByteArray&) = delete;

    // The length is the first bound's element count, read before the lock.
    bool Lock(const VARIANT* pvar) {
        m_cb = pvar->parray->rgsabound[0].cElements;
        void* pv = nullptr;
        if (FAILED(SafeArrayAccessData(pvar->parray, &pv))) return false;
        m_psa = pvar->parray;
        m_pb = static_cast<const unsigned char*>(pv);
        return true;
    }
    bool Unlock() {
        SAFEARRAY* psa = m_psa;
        m_psa = nullptr;
        m_pb = nullptr;
        return SUCCEEDED(SafeArrayUnaccessData(psa));
    }

    const unsigned char* data() const { return m_pb; }
    ULONG size() const { return m_cb; }

private:
    SAFEARRAY* m_psa = nullptr;
    const unsigned char* m_pb = nullptr;
    ULONG m_cb = 0;
};

// SAFEARRAY ownership and data access, kept apart: an owner destroys the
// array it holds; an access guard holds one lock on an array's data, which
// the array must outlive. Each is undone in one place, on every way out.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "platform/unique_owner.h"

struct SafeArrayTraits {
    using Type = SAFEARRAY*;
    static Type Invalid() { return nullptr; }
    static void Close(Type psa) { SafeArrayDestroy(psa); }
};
using UniqueSafeArray = UniqueOwner<SafeArrayTraits>;

// Hands the array over as the variant's value (VT_ARRAY | vtElement); the
// variant's owner destroys it from then on.
inline void MoveArrayTo(UniqueSafeArray& array, VARTYPE vtElement, VARIANT* pvar) {
    pvar->vt = static_cast<VARTYPE>(VT_ARRAY | vtElement);
    pvar->parray = array.release();
}

struct SafeArrayLockTraits {
    using Type = SAFEARRAY*;
    static Type Invalid() { return nullptr; }
    static void Close(Type psa) { SafeArrayUnaccessData(psa); }
};

// One lock on an array's data for the length of a scope.
class SafeArrayAccess {
public:
    SafeArrayAccess() = default;
    SafeArrayAccess(const SafeArrayAccess&) = delete;
    SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;

    // Locks psa's data, after giving back a lock held before; false when the
    // system refuses (nothing is then held).
    bool Lock(SAFEARRAY* psa) {
        Unlock();
        void* pvData = nullptr;
        if (FAILED(SafeArrayAccessData(psa, &pvData))) return false;
        m_lock.reset(psa);
        m_pvData = pvData;
        return true;
    }
    // Gives the lock back now; whether the system took it (false when none
    // was held).
    bool Unlock() {
        SAFEARRAY* psa = m_lock.release();
        m_pvData = nullptr;
        return psa && SUCCEEDED(SafeArrayUnaccessData(psa));
    }

    explicit operator bool() const { return static_cast<bool>(m_lock); }
    template <class T> T* data() const { return static_cast<T*>(m_pvData); }

private:
    UniqueOwner<SafeArrayLockTraits> m_lock;
    void* m_pvData = nullptr;
};

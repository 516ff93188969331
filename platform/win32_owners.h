// The Win32 and OLE resources the product holds, each with its one owner
// (the VARIANT's, the SAFEARRAY's and the EXCEPINFO's in files of their own).
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "platform/scoped_variant.h"
#include "platform/unique_owner.h"

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
using UniqueFileHandle = UniqueOwner<FileHandleTraits>;

// Kernel handles whose "none" is null (sections, tokens, events, processes).
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
using UniqueKernelHandle = UniqueOwner<KernelHandleTraits>;

struct MappedViewTraits {
    using Type = void*;
    static Type Invalid() { return nullptr; }
    static void Close(Type pv) { UnmapViewOfFile(pv); }
};
using UniqueMappedView = UniqueOwner<MappedViewTraits>;

// Blocks the system hands out for LocalFree (security descriptors).
struct LocalBlockTraits {
    using Type = HLOCAL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};
using UniqueLocalBlock = UniqueOwner<LocalBlockTraits>;

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
using UniqueFindHandle = UniqueOwner<FindHandleTraits>;

struct LibraryTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
using UniqueLibrary = UniqueOwner<LibraryTraits>;

struct BstrTraits {
    using Type = BSTR;
    static Type Invalid() { return nullptr; }
    static void Close(Type bstr) { SysFreeString(bstr); }
};
using UniqueBstr = UniqueOwner<BstrTraits>;

// A block that an owning object hands out and takes back through one of its
// own methods (ITypeInfo's TYPEATTR and FUNCDESC, ITypeLib's TLIBATTR).
template <class Owner, class T, void (STDMETHODCALLTYPE Owner::*Release)(T*)>
class OwnedBlock {
public:
    explicit OwnedBlock(Owner* pOwner) : m_pOwner(pOwner) {}
    ~OwnedBlock() {
        if (m_p) (m_pOwner->*Release)(m_p);
    }
    OwnedBlock(const OwnedBlock&) = delete;
    OwnedBlock& operator=(const OwnedBlock&) = delete;

    T** put() { return &m_p; }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    Owner* m_pOwner;
    T* m_p = nullptr;
};

using TypeAttrBlock = OwnedBlock<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FuncDescBlock = OwnedBlock<ITypeInfo, FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using LibAttrBlock = OwnedBlock<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;

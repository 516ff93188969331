// The Win32 names the registry script core is written against. The Windows
// build takes them from the system headers; the host build defines the same
// names with the same values so the core compiles unchanged on both.
#pragma once
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <oleauto.h>
#else
typedef std::int32_t HRESULT;
typedef std::int32_t LONG;
typedef std::uint32_t DWORD;
typedef std::uint8_t BYTE;
typedef std::uint32_t REGSAM;
typedef std::uint16_t VARTYPE;
typedef struct HKEY__* HKEY;

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_FAIL ((HRESULT)0x80004005)
#define E_POINTER ((HRESULT)0x80004003)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_KEY_DELETED 1018L

#define HKEY_CLASSES_ROOT ((HKEY)(std::intptr_t)(std::int32_t)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(std::intptr_t)(std::int32_t)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(std::intptr_t)(std::int32_t)0x80000002)
#define HKEY_USERS ((HKEY)(std::intptr_t)(std::int32_t)0x80000003)
#define HKEY_PERFORMANCE_DATA ((HKEY)(std::intptr_t)(std::int32_t)0x80000004)
#define HKEY_CURRENT_CONFIG ((HKEY)(std::intptr_t)(std::int32_t)0x80000005)
#define HKEY_DYN_DATA ((HKEY)(std::intptr_t)(std::int32_t)0x80000006)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define DELETE 0x00010000L
#define READ_CONTROL 0x00020000L
#define WRITE_DAC 0x00040000L
#define WRITE_OWNER 0x00080000L
#define KEY_READ (READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY)
#define KEY_WRITE (READ_CONTROL | KEY_SET_VALUE | KEY_CREATE_SUB_KEY)
#define KEY_ALL_ACCESS 0xF003FL

#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4

enum VARENUM { VT_EMPTY = 0, VT_BSTR = 8, VT_UI1 = 17, VT_UI4 = 19 };
#endif

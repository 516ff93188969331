// IWebMng as the type library declares it, and its identifiers.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

// Win32 maps DeleteFile to DeleteFileA/W; the interface method keeps its own
// name, and the product calls DeleteFileA explicitly.
#undef DeleteFile

#include "varo.h"

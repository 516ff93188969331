// The interfaces, classes and identifiers of the type library, as C++ sees
// them: the header widl makes from varo.idl.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

// Win32 maps DeleteFile to DeleteFileA/W; the interface method keeps its own
// name, and the product calls DeleteFileA explicitly.
#undef DeleteFile

#include "varo.h"

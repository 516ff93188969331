// IResumable as the type library declares it.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#undef DeleteFile

#include "varo.h"

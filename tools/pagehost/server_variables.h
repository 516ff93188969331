// Request.ServerVariables as a web server names them: the request's own
// (method, content, query), where it came in (server name and port, the
// page's path, the client's address), and one HTTP_ name for each header the
// client sent, its name upper-cased with "-" as "_".
#pragma once
#include "page_request.h"

#include <windows.h>

#include <string>

// The variable's value; "" for a name the server does not know and for a
// header the client did not send. Header values are read in uCodePage.
std::wstring ServerVariable(const PageRequest& request, const std::wstring& name, UINT uCodePage);

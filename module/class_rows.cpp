// The classes VARO.DLL serves. This is the one place that names both how a
// class is made (server/) and how it is registered (registration/), so that
// neither layer needs the other.
#include "platform/class_table.h"
#include "registration/server_registration.h"
#include "resources/resource_ids.h"
#include "resources/varo_interfaces.h"
#include "server/class_object.h"
#include "server/progress_object.h"
#include "server/resumable_object.h"
#include "server/upload_object.h"
#include "server/webmng_object.h"

namespace {
// The table keeps a description hook (a row that returns text is skipped by
// registration), a category hook and a per-class attach hook, as servers of
// this kind carry them; no class needs them.
const wchar_t* NoDescription() { return nullptr; }
const ClassCategory* NoCategories() { return nullptr; }
void NoClassInit(BOOL /*bAttach*/) {}
}  // namespace

ClassTableEntry g_ClassTable[] = {
    {&CLSID_WebMng, RegisterScript<VARO_WEBMNG_SCRIPT>, CreateClassObject, CreateWebMng, nullptr, NoDescription,
     NoCategories, NoClassInit},
    {&CLSID_Upload, RegisterScript<VARO_UPLOAD_SCRIPT>, CreateClassObject, CreateUpload, nullptr, NoDescription,
     NoCategories, NoClassInit},
    {&CLSID_Progress, RegisterScript<VARO_PROGRESS_SCRIPT>, CreateClassObject, CreateProgress, nullptr, NoDescription,
     NoCategories, NoClassInit},
    {&CLSID_Resumable, RegisterScript<VARO_RESUMABLE_SCRIPT>, CreateClassObject, CreateResumable, nullptr,
     NoDescription, NoCategories, NoClassInit},
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

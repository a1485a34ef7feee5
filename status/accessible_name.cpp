// The popup's name for screen readers: dynamic annotation of its client
// object through the system's IAccPropServices. The annotation lives with
// the window, where every screen reader's accessibility runtime finds it, so
// the popup needs no accessible object of its own.
#include "status/status.h"

#include <objbase.h>
#include <oleacc.h>

#include "common/system.h"

namespace {

// The service's class and interface and the name property, spelled out here
// so that no GUID library is linked.
const CLSID kAccPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID kAccPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
// A short name that every screen reader speaks as the popup takes the
// focus; the figures as the description, which readers speak after it and
// again on a change event.
const MSAAPROPID kNameProperty = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
const MSAAPROPID kDescriptionProperty = {0x4d48dfe4, 0xbd3f, 0x491f, {0xa6, 0x48, 0x49, 0x2d, 0x6f, 0x20, 0xc5, 0x88}};
const MSAAPROPID kProperties[] = {kNameProperty, kDescriptionProperty};
const DWORD kClientObject = static_cast<DWORD>(OBJID_CLIENT);

template <typename Function>
bool FindEntry(HMODULE module, const char* name, Function& entry) {
  entry = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return entry != NULL;
}

// ole32 and its three entries, once per run.
bool LoadOle32(StatusAnnotation& annotation) {
  if (annotation.ole32) return true;
  HMODULE ole32 = LoadSystemLibrary(L"ole32.dll");
  if (!ole32) return false;
  if (!FindEntry(ole32, "CoInitializeEx", annotation.initialize) ||
      !FindEntry(ole32, "CoCreateInstance", annotation.create_instance) ||
      !FindEntry(ole32, "CoUninitialize", annotation.uninitialize)) {
    FreeLibrary(ole32);
    annotation.initialize = NULL;
    annotation.create_instance = NULL;
    annotation.uninitialize = NULL;
    return false;
  }
  annotation.ole32 = ole32;
  return true;
}

// The service let go and COM left (which on Windows unloads oleacc too).
void EndService(StatusAnnotation& annotation) {
  if (annotation.services) annotation.services->Release();
  annotation.services = NULL;
  if (SUCCEEDED(annotation.com)) annotation.uninitialize();
  annotation.com = E_FAIL;
}

}  // namespace

bool SetStatusAccessibleName(StatusAnnotation& annotation, HWND window, const wchar_t* name,
                             const wchar_t* description) {
  if (!annotation.services) {
    if (!LoadOle32(annotation)) return false;
    // A thread already in the other apartment model keeps it: the service
    // lives in either.
    annotation.com = annotation.initialize(NULL, COINIT_APARTMENTTHREADED);
    if (FAILED(annotation.com) && annotation.com != RPC_E_CHANGED_MODE) {
      annotation.com = E_FAIL;
      return false;
    }
    if (FAILED(annotation.create_instance(kAccPropServicesClass, NULL, CLSCTX_INPROC_SERVER,
                                          kAccPropServicesInterface,
                                          reinterpret_cast<void**>(&annotation.services)))) {
      annotation.services = NULL;
      EndService(annotation);
      return false;
    }
  }
  if (SUCCEEDED(annotation.services->SetHwndPropStr(window, kClientObject, CHILDID_SELF, kNameProperty, name)) &&
      SUCCEEDED(annotation.services->SetHwndPropStr(window, kClientObject, CHILDID_SELF, kDescriptionProperty,
                                                    description)))
    return true;
  EndService(annotation);
  return false;
}

void ClearStatusAccessibleName(StatusAnnotation& annotation, HWND window) {
  if (!annotation.services) return;
  annotation.services->ClearHwndProps(window, kClientObject, CHILDID_SELF, kProperties, 2);
  EndService(annotation);
}

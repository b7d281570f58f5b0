#pragma once
// The telephony interface, bound at run time: the provider library is loaded (dlopen) at the
// first call of any line function, once for the life of this object, and each function is
// looked up (dlsym) at its own first call. When the library or a function cannot be found, that
// function answers LINEERR_OPERATIONUNAVAIL at this and every later call, so a machine without
// telephony simply has no lines.
//
// The library is never unloaded: a provider may still run threads of its own for applications
// that were not shut down.
//
// Telephony() is the process-wide binding of the provider library at DefaultTelephonyLibraryPath().
// Every function may be called from any thread.

#include <atomic>
#include <mutex>
#include <string>

#include "platform/telephony/tapi.h"

namespace qv {

// Where the provider library is looked for: $QUORVEL_TAPI_LIBRARY when set; otherwise
// ProviderLibraryBeside(the running program) when that finds one; otherwise the name
// "libqvtapi.so" for the system's library search.
std::string DefaultTelephonyLibraryPath();

// libqvtapi.so in <program dir>/../lib (where the build puts it) or in <program dir>/../lib/quorvel
// (where the package installs it beside /usr/bin), whichever exists first; "" when neither does.
std::string ProviderLibraryBeside(const std::string& programPath);

class CTelephonyLibrary {
 public:
  explicit CTelephonyLibrary(std::string libraryPath);
  CTelephonyLibrary(const CTelephonyLibrary&) = delete;
  CTelephonyLibrary& operator=(const CTelephonyLibrary&) = delete;

  const std::string& LibraryPath() const { return path_; }

  tapi::LONG lineInitializeExA(tapi::HLINEAPP* lineApp, void* instance, tapi::LINECALLBACK callback,
                               const char* friendlyAppName, uint32_t* numDevs, uint32_t* apiVersion,
                               tapi::LINEINITIALIZEEXPARAMS* params);
  tapi::LONG lineNegotiateAPIVersion(tapi::HLINEAPP lineApp, uint32_t deviceId, uint32_t lowVersion,
                                     uint32_t highVersion, uint32_t* apiVersion, tapi::LINEEXTENSIONID* extensionId);
  tapi::LONG lineGetDevCapsA(tapi::HLINEAPP lineApp, uint32_t deviceId, uint32_t apiVersion, uint32_t extVersion,
                             tapi::LINEDEVCAPS* caps);
  tapi::LONG lineOpenA(tapi::HLINEAPP lineApp, uint32_t deviceId, tapi::HLINE* line, uint32_t apiVersion,
                       uint32_t extVersion, uintptr_t callbackInstance, uint32_t privileges, uint32_t mediaModes,
                       const tapi::LINECALLPARAMS* callParams);
  tapi::LONG lineSetStatusMessages(tapi::HLINE line, uint32_t lineStates, uint32_t addressStates);
  tapi::LONG lineGetMessage(tapi::HLINEAPP lineApp, tapi::LINEMESSAGE* message, uint32_t timeoutMs);
  tapi::LONG lineGetCallInfoA(tapi::HCALL call, tapi::LINECALLINFO* info);
  tapi::LONG lineDeallocateCall(tapi::HCALL call);
  tapi::LONG lineClose(tapi::HLINE line);
  tapi::LONG lineShutdown(tapi::HLINEAPP lineApp);

 private:
  // One function's binding, looked up once.
  template <typename Fn>
  struct Bound {
    std::once_flag once;
    Fn function = nullptr;
  };

  template <typename Fn>
  Fn Resolve(Bound<Fn>& bound, const char* name);
  // Calls the bound function, or answers LINEERR_OPERATIONUNAVAIL when it cannot be had.
  template <typename Fn, typename... Args>
  tapi::LONG Call(Bound<Fn>& bound, const char* name, Args... args);
  void* Library();

  std::string path_;
  std::once_flag loadOnce_;
  void* library_ = nullptr;

  Bound<tapi::PFN_lineInitializeExA> initializeEx_;
  Bound<tapi::PFN_lineNegotiateAPIVersion> negotiateApiVersion_;
  Bound<tapi::PFN_lineGetDevCapsA> getDevCaps_;
  Bound<tapi::PFN_lineOpenA> open_;
  Bound<tapi::PFN_lineSetStatusMessages> setStatusMessages_;
  Bound<tapi::PFN_lineGetMessage> getMessage_;
  Bound<tapi::PFN_lineGetCallInfoA> getCallInfo_;
  Bound<tapi::PFN_lineDeallocateCall> deallocateCall_;
  Bound<tapi::PFN_lineClose> close_;
  Bound<tapi::PFN_lineShutdown> shutdown_;
};

CTelephonyLibrary& Telephony();

}  // namespace qv

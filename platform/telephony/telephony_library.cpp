#include "platform/telephony/telephony_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

namespace qv {

using namespace tapi;

std::string DefaultTelephonyLibraryPath() {
  const char* configured = std::getenv("QUORVEL_TAPI_LIBRARY");
  if (configured != nullptr && *configured != '\0') return configured;
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    if (std::string beside = ProviderLibraryBeside(program.string()); !beside.empty()) return beside;
  }
  return "libqvtapi.so";
}

std::string ProviderLibraryBeside(const std::string& programPath) {
  const auto lib = std::filesystem::path(programPath).parent_path().parent_path() / "lib";
  for (const auto& candidate : {lib / "libqvtapi.so", lib / "quorvel" / "libqvtapi.so"}) {
    std::error_code error;
    if (std::filesystem::exists(candidate, error)) return candidate.string();
  }
  return "";
}

CTelephonyLibrary::CTelephonyLibrary(std::string libraryPath) : path_(std::move(libraryPath)) {}

void* CTelephonyLibrary::Library() {
  std::call_once(loadOnce_, [this] { library_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL); });
  return library_;
}

template <typename Fn, typename... Args>
LONG CTelephonyLibrary::Call(Bound<Fn>& bound, const char* name, Args... args) {
  const Fn function = Resolve(bound, name);
  return function != nullptr ? function(args...) : LINEERR_OPERATIONUNAVAIL;
}

template <typename Fn>
Fn CTelephonyLibrary::Resolve(Bound<Fn>& bound, const char* name) {
  std::call_once(bound.once, [&] {
    void* library = Library();
    if (library != nullptr) bound.function = reinterpret_cast<Fn>(dlsym(library, name));
  });
  return bound.function;
}

LONG CTelephonyLibrary::lineInitializeExA(HLINEAPP* lineApp, void* instance, LINECALLBACK callback,
                                          const char* friendlyAppName, uint32_t* numDevs, uint32_t* apiVersion,
                                          LINEINITIALIZEEXPARAMS* params) {
  return Call(initializeEx_, "lineInitializeExA", lineApp, instance, callback, friendlyAppName, numDevs, apiVersion,
              params);
}

LONG CTelephonyLibrary::lineNegotiateAPIVersion(HLINEAPP lineApp, uint32_t deviceId, uint32_t lowVersion,
                                                uint32_t highVersion, uint32_t* apiVersion,
                                                LINEEXTENSIONID* extensionId) {
  return Call(negotiateApiVersion_, "lineNegotiateAPIVersion", lineApp, deviceId, lowVersion, highVersion,
              apiVersion, extensionId);
}

LONG CTelephonyLibrary::lineGetDevCapsA(HLINEAPP lineApp, uint32_t deviceId, uint32_t apiVersion, uint32_t extVersion,
                                        LINEDEVCAPS* caps) {
  return Call(getDevCaps_, "lineGetDevCapsA", lineApp, deviceId, apiVersion, extVersion, caps);
}

LONG CTelephonyLibrary::lineOpenA(HLINEAPP lineApp, uint32_t deviceId, HLINE* line, uint32_t apiVersion,
                                  uint32_t extVersion, uintptr_t callbackInstance, uint32_t privileges,
                                  uint32_t mediaModes, const LINECALLPARAMS* callParams) {
  return Call(open_, "lineOpenA", lineApp, deviceId, line, apiVersion, extVersion, callbackInstance, privileges,
              mediaModes, callParams);
}

LONG CTelephonyLibrary::lineSetStatusMessages(HLINE line, uint32_t lineStates, uint32_t addressStates) {
  return Call(setStatusMessages_, "lineSetStatusMessages", line, lineStates, addressStates);
}

LONG CTelephonyLibrary::lineGetMessage(HLINEAPP lineApp, LINEMESSAGE* message, uint32_t timeoutMs) {
  return Call(getMessage_, "lineGetMessage", lineApp, message, timeoutMs);
}

LONG CTelephonyLibrary::lineGetCallInfoA(HCALL call, LINECALLINFO* info) {
  return Call(getCallInfo_, "lineGetCallInfoA", call, info);
}

LONG CTelephonyLibrary::lineDeallocateCall(HCALL call) { return Call(deallocateCall_, "lineDeallocateCall", call); }

LONG CTelephonyLibrary::lineClose(HLINE line) { return Call(close_, "lineClose", line); }

LONG CTelephonyLibrary::lineShutdown(HLINEAPP lineApp) { return Call(shutdown_, "lineShutdown", lineApp); }

CTelephonyLibrary& Telephony() {
  static CTelephonyLibrary library(DefaultTelephonyLibraryPath());
  return library;
}

}  // namespace qv

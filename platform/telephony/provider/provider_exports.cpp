// The exported line functions of libqvtapi.so, each handing over to the process's simulated
// provider. Only these names are visible outside the library.

#include <type_traits>

#include "platform/telephony/provider/simulated_telephony.h"

using namespace qv::tapi;
using qv::simtapi::SimulatedTelephony;

#define QV_EXPORT extern "C" __attribute__((visibility("default")))

QV_EXPORT LONG lineInitializeExA(HLINEAPP* lineApp, void* instance, LINECALLBACK callback, const char* appName,
                                 uint32_t* numDevs, uint32_t* apiVersion, LINEINITIALIZEEXPARAMS* params) {
  return SimulatedTelephony().lineInitializeExA(lineApp, instance, callback, appName, numDevs, apiVersion, params);
}

QV_EXPORT LONG lineNegotiateAPIVersion(HLINEAPP lineApp, uint32_t deviceId, uint32_t lowVersion, uint32_t highVersion,
                                       uint32_t* apiVersion, LINEEXTENSIONID* extensionId) {
  return SimulatedTelephony().lineNegotiateAPIVersion(lineApp, deviceId, lowVersion, highVersion, apiVersion,
                                                      extensionId);
}

QV_EXPORT LONG lineGetDevCapsA(HLINEAPP lineApp, uint32_t deviceId, uint32_t apiVersion, uint32_t extVersion,
                               LINEDEVCAPS* caps) {
  return SimulatedTelephony().lineGetDevCapsA(lineApp, deviceId, apiVersion, extVersion, caps);
}

QV_EXPORT LONG lineOpenA(HLINEAPP lineApp, uint32_t deviceId, HLINE* line, uint32_t apiVersion, uint32_t extVersion,
                         uintptr_t callbackInstance, uint32_t privileges, uint32_t mediaModes,
                         const LINECALLPARAMS* callParams) {
  return SimulatedTelephony().lineOpenA(lineApp, deviceId, line, apiVersion, extVersion, callbackInstance, privileges,
                                        mediaModes, callParams);
}

QV_EXPORT LONG lineSetStatusMessages(HLINE line, uint32_t lineStates, uint32_t addressStates) {
  return SimulatedTelephony().lineSetStatusMessages(line, lineStates, addressStates);
}

QV_EXPORT LONG lineGetMessage(HLINEAPP lineApp, LINEMESSAGE* message, uint32_t timeoutMs) {
  return SimulatedTelephony().lineGetMessage(lineApp, message, timeoutMs);
}

QV_EXPORT LONG lineGetCallInfoA(HCALL call, LINECALLINFO* info) { return SimulatedTelephony().lineGetCallInfoA(call, info); }

QV_EXPORT LONG lineDeallocateCall(HCALL call) { return SimulatedTelephony().lineDeallocateCall(call); }

QV_EXPORT LONG lineClose(HLINE line) { return SimulatedTelephony().lineClose(line); }

QV_EXPORT LONG lineShutdown(HLINEAPP lineApp) { return SimulatedTelephony().lineShutdown(lineApp); }

// The exports must keep the shape that the binding looks them up with.
static_assert(std::is_same_v<decltype(&lineInitializeExA), PFN_lineInitializeExA>);
static_assert(std::is_same_v<decltype(&lineNegotiateAPIVersion), PFN_lineNegotiateAPIVersion>);
static_assert(std::is_same_v<decltype(&lineGetDevCapsA), PFN_lineGetDevCapsA>);
static_assert(std::is_same_v<decltype(&lineOpenA), PFN_lineOpenA>);
static_assert(std::is_same_v<decltype(&lineSetStatusMessages), PFN_lineSetStatusMessages>);
static_assert(std::is_same_v<decltype(&lineGetMessage), PFN_lineGetMessage>);
static_assert(std::is_same_v<decltype(&lineGetCallInfoA), PFN_lineGetCallInfoA>);
static_assert(std::is_same_v<decltype(&lineDeallocateCall), PFN_lineDeallocateCall>);
static_assert(std::is_same_v<decltype(&lineClose), PFN_lineClose>);
static_assert(std::is_same_v<decltype(&lineShutdown), PFN_lineShutdown>);

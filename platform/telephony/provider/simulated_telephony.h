#pragma once
// The simulated telephony provider behind libqvtapi.so: line devices and calls come from the
// spool folder "<data root>/telephony" (see spool_format.h), so that a test or a person can add
// "a modem" and place calls on it.
//
// Each application (lineInitializeExA) reads the line devices once, then watches "calls/" on a
// thread of its own: a call file that has been written (or moved in) starts a call on its line,
// removing it ends the call, and a call with a duration ends by itself after that many seconds
// and its file is removed. Every line the application opened sees the call with monitor
// privilege: LINE_APPNEWCALL, LINE_LINEDEVSTATE ringing (incoming, when asked for with
// lineSetStatusMessages), LINE_CALLSTATE offering (incoming) or dialing and connected
// (outgoing), and at the end disconnected and idle. Only event notification mode is offered.
//
// The functions have the shape and error codes of the telephony interface (tapi.h) and may be
// called from any thread; one lock guards the whole provider.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "platform/telephony/tapi.h"

namespace qv::simtapi {

class CSimulatedApp;

class CSimulatedTelephony {
 public:
  CSimulatedTelephony();
  ~CSimulatedTelephony();
  CSimulatedTelephony(const CSimulatedTelephony&) = delete;
  CSimulatedTelephony& operator=(const CSimulatedTelephony&) = delete;

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
  friend class CSimulatedApp;

  CSimulatedApp* FindApp(tapi::HLINEAPP handle);
  CSimulatedApp* FindAppOfLine(tapi::HLINE line);
  CSimulatedApp* FindAppOfCall(tapi::HCALL call);
  uint32_t NewHandle() { return nextHandle_++; }

  std::mutex mutex_;
  std::condition_variable messageQueued_;
  std::map<tapi::HLINEAPP, std::unique_ptr<CSimulatedApp>> apps_;
  uint32_t nextHandle_ = 1;
  uint32_t nextCallId_ = 1;
};

// The provider of this process, as the exported functions use it.
CSimulatedTelephony& SimulatedTelephony();

}  // namespace qv::simtapi

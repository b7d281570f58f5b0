#pragma once
// The line functions of the telephony interface (a TAPI 2.2 subset), in the shape that a
// telephony provider library exports and that CTelephonyLibrary binds at run time.
//
// Records with a variable part follow the platform's pattern: the caller sets dwTotalSize to the
// size of its buffer; the provider fills the fixed part, sets dwNeededSize to what everything
// would take, and stores each text (8-bit, zero-terminated, the zero counted in its size) at an
// offset from the record's start only when it fits; dwUsedSize says how much was written. A
// buffer smaller than the fixed part fails with LINEERR_STRUCTURETOOSMALL.
//
// Handles are 32-bit numbers; 0 is never a valid handle. The message "event" of event
// notification mode is a file descriptor that is readable while messages wait to be read with
// lineGetMessage; the application only polls it.
//
// Return values: 0 on success, a negative LINEERR_* value on failure (the platform's 0x8000....
// numbers read as signed 32-bit).

#include <cstdint>

namespace qv::tapi {

using LONG = int32_t;
using HLINEAPP = uint32_t;
using HLINE = uint32_t;
using HCALL = uint32_t;

constexpr LONG LineError(uint32_t code) { return static_cast<LONG>(code); }
inline constexpr LONG LINEERR_BADDEVICEID = LineError(0x80000002);
inline constexpr LONG LINEERR_INCOMPATIBLEAPIVERSION = LineError(0x8000000C);
inline constexpr LONG LINEERR_INVALAPPHANDLE = LineError(0x80000015);
inline constexpr LONG LINEERR_INVALCALLHANDLE = LineError(0x80000018);
inline constexpr LONG LINEERR_INVALLINEHANDLE = LineError(0x8000002B);
inline constexpr LONG LINEERR_INVALMEDIAMODE = LineError(0x8000002F);
inline constexpr LONG LINEERR_INVALPARAM = LineError(0x80000032);
inline constexpr LONG LINEERR_INVALPOINTER = LineError(0x80000035);
inline constexpr LONG LINEERR_INVALPRIVSELECT = LineError(0x80000036);
inline constexpr LONG LINEERR_NOMEM = LineError(0x80000044);
inline constexpr LONG LINEERR_OPERATIONFAILED = LineError(0x80000048);
inline constexpr LONG LINEERR_OPERATIONUNAVAIL = LineError(0x80000049);
inline constexpr LONG LINEERR_STRUCTURETOOSMALL = LineError(0x8000004D);

inline constexpr uint32_t LINEINITIALIZEEXOPTION_USEEVENT = 2;

inline constexpr uint32_t LINEMEDIAMODE_UNKNOWN = 0x2;
inline constexpr uint32_t LINEMEDIAMODE_INTERACTIVEVOICE = 0x4;
inline constexpr uint32_t LINEMEDIAMODE_AUTOMATEDVOICE = 0x8;
inline constexpr uint32_t LINEMEDIAMODE_DATAMODEM = 0x10;
inline constexpr uint32_t LINEMEDIAMODE_G3FAX = 0x20;

inline constexpr uint32_t LINECALLPRIVILEGE_NONE = 1;
inline constexpr uint32_t LINECALLPRIVILEGE_MONITOR = 2;
inline constexpr uint32_t LINECALLPRIVILEGE_OWNER = 4;

inline constexpr uint32_t LINEBEARERMODE_VOICE = 1;

inline constexpr uint32_t LINEDEVSTATE_RINGING = 2;

// Message identifiers.
inline constexpr uint32_t LINE_CALLSTATE = 2;
inline constexpr uint32_t LINE_LINEDEVSTATE = 8;
inline constexpr uint32_t LINE_APPNEWCALL = 23;

inline constexpr uint32_t LINECALLSTATE_IDLE = 0x1;
inline constexpr uint32_t LINECALLSTATE_OFFERING = 0x2;
inline constexpr uint32_t LINECALLSTATE_DIALING = 0x10;
inline constexpr uint32_t LINECALLSTATE_CONNECTED = 0x100;
inline constexpr uint32_t LINECALLSTATE_DISCONNECTED = 0x4000;

inline constexpr uint32_t LINECALLORIGIN_OUTBOUND = 0x1;
inline constexpr uint32_t LINECALLORIGIN_INBOUND = 0x80;

inline constexpr uint32_t LINECALLPARTYID_BLOCKED = 0x1;
inline constexpr uint32_t LINECALLPARTYID_OUTOFAREA = 0x2;
inline constexpr uint32_t LINECALLPARTYID_NAME = 0x4;
inline constexpr uint32_t LINECALLPARTYID_ADDRESS = 0x8;
inline constexpr uint32_t LINECALLPARTYID_PARTIAL = 0x10;
inline constexpr uint32_t LINECALLPARTYID_UNKNOWN = 0x20;
inline constexpr uint32_t LINECALLPARTYID_UNAVAIL = 0x40;

inline constexpr uint32_t STRINGFORMAT_ASCII = 1;

struct LINEINITIALIZEEXPARAMS {
  uint32_t dwTotalSize;
  uint32_t dwNeededSize;
  uint32_t dwUsedSize;
  uint32_t dwOptions;
  int32_t hEvent;  // out: the message descriptor in event mode
  uint32_t dwCompletionKey;
};
static_assert(sizeof(LINEINITIALIZEEXPARAMS) == 24);

struct LINEEXTENSIONID {
  uint32_t dwExtensionID0;
  uint32_t dwExtensionID1;
  uint32_t dwExtensionID2;
  uint32_t dwExtensionID3;
};

struct LINEDEVCAPS {
  uint32_t dwTotalSize;
  uint32_t dwNeededSize;
  uint32_t dwUsedSize;
  uint32_t dwProviderInfoSize;
  uint32_t dwProviderInfoOffset;
  uint32_t dwPermanentLineID;
  uint32_t dwLineNameSize;
  uint32_t dwLineNameOffset;
  uint32_t dwStringFormat;
  uint32_t dwNumAddresses;
  uint32_t dwBearerModes;
  uint32_t dwMediaModes;
  uint32_t dwLineStates;
};

struct LINECALLPARAMS {
  uint32_t dwTotalSize;
  uint32_t dwBearerMode;
  uint32_t dwMinRate;
  uint32_t dwMaxRate;
  uint32_t dwMediaMode;
  uint32_t dwCallParamFlags;
  uint32_t dwAddressMode;
  uint32_t dwAddressID;
};

struct LINEMESSAGE {
  uint32_t hDevice;  // a line or call handle, by message
  uint32_t dwMessageID;
  uintptr_t dwCallbackInstance;
  uintptr_t dwParam1;
  uintptr_t dwParam2;
  uintptr_t dwParam3;
};

struct LINECALLINFO {
  uint32_t dwTotalSize;
  uint32_t dwNeededSize;
  uint32_t dwUsedSize;
  HLINE hLine;
  uint32_t dwLineDeviceID;
  uint32_t dwAddressID;
  uint32_t dwBearerMode;
  uint32_t dwMediaMode;
  uint32_t dwCallID;
  uint32_t dwOrigin;
  uint32_t dwCallerIDFlags;
  uint32_t dwCallerIDSize;
  uint32_t dwCallerIDOffset;
  uint32_t dwCallerIDNameSize;
  uint32_t dwCallerIDNameOffset;
  uint32_t dwCalledIDFlags;
  uint32_t dwCalledIDSize;
  uint32_t dwCalledIDOffset;
  uint32_t dwCalledIDNameSize;
  uint32_t dwCalledIDNameOffset;
  uint32_t dwAppNameSize;
  uint32_t dwAppNameOffset;
};

// The exported functions of a provider library, by name.
using LINECALLBACK = void (*)(uint32_t hDevice, uint32_t dwMessage, uintptr_t dwInstance, uintptr_t dwParam1,
                              uintptr_t dwParam2, uintptr_t dwParam3);
using PFN_lineInitializeExA = LONG (*)(HLINEAPP* lphLineApp, void* hInstance, LINECALLBACK lpfnCallback,
                                       const char* lpszFriendlyAppName, uint32_t* lpdwNumDevs,
                                       uint32_t* lpdwAPIVersion, LINEINITIALIZEEXPARAMS* lpLineInitializeExParams);
using PFN_lineNegotiateAPIVersion = LONG (*)(HLINEAPP hLineApp, uint32_t dwDeviceID, uint32_t dwAPILowVersion,
                                             uint32_t dwAPIHighVersion, uint32_t* lpdwAPIVersion,
                                             LINEEXTENSIONID* lpExtensionID);
using PFN_lineGetDevCapsA = LONG (*)(HLINEAPP hLineApp, uint32_t dwDeviceID, uint32_t dwAPIVersion,
                                     uint32_t dwExtVersion, LINEDEVCAPS* lpLineDevCaps);
using PFN_lineOpenA = LONG (*)(HLINEAPP hLineApp, uint32_t dwDeviceID, HLINE* lphLine, uint32_t dwAPIVersion,
                               uint32_t dwExtVersion, uintptr_t dwCallbackInstance, uint32_t dwPrivileges,
                               uint32_t dwMediaModes, const LINECALLPARAMS* lpCallParams);
using PFN_lineSetStatusMessages = LONG (*)(HLINE hLine, uint32_t dwLineStates, uint32_t dwAddressStates);
using PFN_lineGetMessage = LONG (*)(HLINEAPP hLineApp, LINEMESSAGE* lpMessage, uint32_t dwTimeout);
using PFN_lineGetCallInfoA = LONG (*)(HCALL hCall, LINECALLINFO* lpCallInfo);
using PFN_lineDeallocateCall = LONG (*)(HCALL hCall);
using PFN_lineClose = LONG (*)(HLINE hLine);
using PFN_lineShutdown = LONG (*)(HLINEAPP hLineApp);

}  // namespace qv::tapi

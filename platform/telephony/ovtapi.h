/* libovtapi.so: the telephony provider (the TAPI 1.4 subset the server binds at run time) for
 * Hayes-compatible modems on serial devices. Names, constants and record layouts are the
 * desktop's; every field is 32 bits wide, so the documented byte sizes and offsets hold.
 *
 * Devices come from the file named by OVTAPI_CONF, else /etc/ovtapi.conf (see README.md).
 * Asynchronous functions return a positive request id and later send LINE_REPLY; every message
 * reaches the callback on the UI thread of libovui (through ovPostCall), never on another one.
 * The comm handle from lineGetID("comm/datamodem") is a dup of the line's descriptor, raw and
 * O_NONBLOCK: wait with poll(); read() giving 0 or EIO means the carrier is gone. The caller
 * closes it. */
#ifndef OVTAPI_H
#define OVTAPI_H

#include "ovtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OVTAPI_API __attribute__((visibility("default")))

typedef int32_t LONG;
typedef DWORD HLINEAPP;
typedef DWORD HLINE;
typedef DWORD HCALL;
typedef void* HINSTANCE;
typedef HLINEAPP* LPHLINEAPP;
typedef HLINE* LPHLINE;
typedef DWORD* LPDWORD;
typedef const char* LPCSTR;

typedef void (*LINECALLBACK)(DWORD hDevice, DWORD dwMessage, DWORD dwInstance, DWORD dwParam1,
                             DWORD dwParam2, DWORD dwParam3);

#define TAPI_VERSION_1_4 0x00010004

/* Messages */
#define LINE_ADDRESSSTATE 0
#define LINE_CALLINFO 1
#define LINE_CALLSTATE 2 /* hDevice: HCALL; p1: new state; p2: mode; p3: privilege if new */
#define LINE_CLOSE 3     /* hDevice: HLINE */
#define LINE_LINEDEVSTATE 8
#define LINE_REPLY 12 /* p1: request id; p2: 0 or a LINEERR_ value */
#define LINE_CREATE 19

/* Call states */
#define LINECALLSTATE_IDLE 0x00000001
#define LINECALLSTATE_OFFERING 0x00000002
#define LINECALLSTATE_ACCEPTED 0x00000004
#define LINECALLSTATE_DIALTONE 0x00000008
#define LINECALLSTATE_DIALING 0x00000010
#define LINECALLSTATE_RINGBACK 0x00000020
#define LINECALLSTATE_BUSY 0x00000040
#define LINECALLSTATE_SPECIALINFO 0x00000080
#define LINECALLSTATE_CONNECTED 0x00000100
#define LINECALLSTATE_PROCEEDING 0x00000200
#define LINECALLSTATE_ONHOLD 0x00000400
#define LINECALLSTATE_CONFERENCED 0x00000800
#define LINECALLSTATE_ONHOLDPENDCONF 0x00001000
#define LINECALLSTATE_ONHOLDPENDTRANSFER 0x00002000
#define LINECALLSTATE_DISCONNECTED 0x00004000
#define LINECALLSTATE_UNKNOWN 0x00008000

#define LINEDISCONNECTMODE_NORMAL 0x00000001
#define LINEDISCONNECTMODE_UNKNOWN 0x00000002
#define LINEDISCONNECTMODE_NOANSWER 0x00000040
#define LINEDISCONNECTMODE_UNAVAIL 0x00000800

#define LINEMEDIAMODE_UNKNOWN 0x00000002
#define LINEMEDIAMODE_INTERACTIVEVOICE 0x00000004
#define LINEMEDIAMODE_DATAMODEM 0x00000010

#define LINEBEARERMODE_VOICE 0x00000001
#define LINEADDRESSMODE_ADDRESSID 0x00000001
#define LINEANSWERMODE_NONE 0x00000001
#define LINECALLORIGIN_INBOUND 0x00000080
#define LINECALLREASON_DIRECT 0x00000001

#define LINECALLPRIVILEGE_NONE 0x00000001
#define LINECALLPRIVILEGE_MONITOR 0x00000002
#define LINECALLPRIVILEGE_OWNER 0x00000004

#define LINECALLSELECT_LINE 0x00000001
#define LINECALLSELECT_ADDRESS 0x00000002
#define LINECALLSELECT_CALL 0x00000004

#define LINECALLPARTYID_BLOCKED 0x00000001
#define LINECALLPARTYID_OUTOFAREA 0x00000002
#define LINECALLPARTYID_NAME 0x00000004
#define LINECALLPARTYID_ADDRESS 0x00000008
#define LINECALLPARTYID_PARTIAL 0x00000010
#define LINECALLPARTYID_UNKNOWN 0x00000020
#define LINECALLPARTYID_UNAVAIL 0x00000040

#define STRINGFORMAT_ASCII 0x00000001
#define STRINGFORMAT_DBCS 0x00000002
#define STRINGFORMAT_UNICODE 0x00000003
#define STRINGFORMAT_BINARY 0x00000004

/* Errors (as LONG they are negative) */
#define LINEERR_ALLOCATED ((LONG)0x80000001)
#define LINEERR_BADDEVICEID ((LONG)0x80000002)
#define LINEERR_INCOMPATIBLEAPIVERSION ((LONG)0x8000000C)
#define LINEERR_INCOMPATIBLEEXTVERSION ((LONG)0x8000000D)
#define LINEERR_INVALADDRESSID ((LONG)0x80000011)
#define LINEERR_INVALAPPHANDLE ((LONG)0x80000014)
#define LINEERR_INVALCALLHANDLE ((LONG)0x80000018)
#define LINEERR_INVALCALLSELECT ((LONG)0x8000001B)
#define LINEERR_INVALCALLSTATE ((LONG)0x8000001C)
#define LINEERR_INVALDEVICECLASS ((LONG)0x80000023)
#define LINEERR_INVALLINEHANDLE ((LONG)0x8000002B)
#define LINEERR_INVALMEDIAMODE ((LONG)0x8000002F)
#define LINEERR_INVALPOINTER ((LONG)0x80000035)
#define LINEERR_INVALPRIVSELECT ((LONG)0x80000036)
#define LINEERR_NODEVICE ((LONG)0x80000042)
#define LINEERR_NOMEM ((LONG)0x80000044)
#define LINEERR_OPERATIONFAILED ((LONG)0x80000048)
#define LINEERR_OPERATIONUNAVAIL ((LONG)0x80000049)
#define LINEERR_RESOURCEUNAVAIL ((LONG)0x8000004B)
#define LINEERR_STRUCTURETOOSMALL ((LONG)0x8000004C)
#define LINEERR_UNINITIALIZED ((LONG)0x8000004F)

/* Records: variable parts follow the fixed part; sizes count the terminating NUL. */
typedef struct varstring_tag {
    DWORD dwTotalSize, dwNeededSize, dwUsedSize;
    DWORD dwStringFormat, dwStringSize, dwStringOffset;
} VARSTRING, *LPVARSTRING;

typedef struct lineextensionid_tag {
    DWORD dwExtensionID0, dwExtensionID1, dwExtensionID2, dwExtensionID3;
} LINEEXTENSIONID, *LPLINEEXTENSIONID;

typedef struct linedialparams_tag {
    DWORD dwDialPause, dwDialSpeed, dwDigitDuration, dwWaitForDialtone;
} LINEDIALPARAMS;

typedef struct linedevcaps_tag {
    DWORD dwTotalSize, dwNeededSize, dwUsedSize;
    DWORD dwProviderInfoSize, dwProviderInfoOffset;
    DWORD dwSwitchInfoSize, dwSwitchInfoOffset;
    DWORD dwPermanentLineID;
    DWORD dwLineNameSize, dwLineNameOffset;
    DWORD dwStringFormat, dwAddressModes, dwNumAddresses, dwBearerModes, dwMaxRate;
    DWORD dwMediaModes;
    DWORD dwGenerateToneModes, dwGenerateToneMaxNumFreq, dwGenerateDigitModes;
    DWORD dwMonitorToneMaxNumFreq, dwMonitorToneMaxNumEntries, dwMonitorDigitModes;
    DWORD dwGatherDigitsMinTimeout, dwGatherDigitsMaxTimeout;
    DWORD dwMedCtlDigitMaxListSize, dwMedCtlMediaMaxListSize, dwMedCtlToneMaxListSize;
    DWORD dwMedCtlCallStateMaxListSize;
    DWORD dwDevCapFlags, dwMaxNumActiveCalls, dwAnswerMode, dwRingModes, dwLineStates;
    DWORD dwUUIAcceptSize, dwUUIAnswerSize, dwUUIMakeCallSize, dwUUIDropSize;
    DWORD dwUUISendUserUserInfoSize, dwUUICallInfoSize;
    LINEDIALPARAMS MinDialParams, MaxDialParams, DefaultDialParams;
    DWORD dwNumTerminals, dwTerminalCapsSize, dwTerminalCapsOffset;
    DWORD dwTerminalTextEntrySize, dwTerminalTextSize, dwTerminalTextOffset;
    DWORD dwDevSpecificSize, dwDevSpecificOffset;
    DWORD dwLineFeatures;
} LINEDEVCAPS, *LPLINEDEVCAPS;

typedef struct linecallinfo_tag {
    DWORD dwTotalSize, dwNeededSize, dwUsedSize;
    HLINE hLine;
    DWORD dwLineDeviceID, dwAddressID, dwBearerMode, dwRate, dwMediaMode, dwAppSpecific;
    DWORD dwCallID, dwRelatedCallID, dwCallParamFlags, dwCallStates;
    DWORD dwMonitorDigitModes, dwMonitorMediaModes;
    LINEDIALPARAMS DialParams;
    DWORD dwOrigin, dwReason, dwCompletionID, dwNumOwners, dwNumMonitors;
    DWORD dwCountryCode, dwTrunk;
    DWORD dwCallerIDFlags, dwCallerIDSize, dwCallerIDOffset;
    DWORD dwCallerIDNameSize, dwCallerIDNameOffset;
    DWORD dwCalledIDFlags, dwCalledIDSize, dwCalledIDOffset;
    DWORD dwCalledIDNameSize, dwCalledIDNameOffset;
    DWORD dwConnectedIDFlags, dwConnectedIDSize, dwConnectedIDOffset;
    DWORD dwConnectedIDNameSize, dwConnectedIDNameOffset;
    DWORD dwRedirectionIDFlags, dwRedirectionIDSize, dwRedirectionIDOffset;
    DWORD dwRedirectionIDNameSize, dwRedirectionIDNameOffset;
    DWORD dwRedirectingIDFlags, dwRedirectingIDSize, dwRedirectingIDOffset;
    DWORD dwRedirectingIDNameSize, dwRedirectingIDNameOffset;
    DWORD dwAppNameSize, dwAppNameOffset;
    DWORD dwDisplayableAddressSize, dwDisplayableAddressOffset;
    DWORD dwCalledPartySize, dwCalledPartyOffset;
    DWORD dwCommentSize, dwCommentOffset;
    DWORD dwDisplaySize, dwDisplayOffset;
    DWORD dwUserUserInfoSize, dwUserUserInfoOffset;
    DWORD dwHighLevelCompSize, dwHighLevelCompOffset;
    DWORD dwLowLevelCompSize, dwLowLevelCompOffset;
    DWORD dwChargingInfoSize, dwChargingInfoOffset;
    DWORD dwTerminalModesSize, dwTerminalModesOffset;
    DWORD dwDevSpecificSize, dwDevSpecificOffset;
} LINECALLINFO, *LPLINECALLINFO;

/* Call parameters are not supported; lineOpen ignores them. */
typedef struct linecallparams_tag LINECALLPARAMS;

#ifdef __cplusplus
static_assert(sizeof(VARSTRING) == 24, "VARSTRING layout");
static_assert(sizeof(LINEDEVCAPS) == 240, "LINEDEVCAPS layout");
static_assert(__builtin_offsetof(LINEDEVCAPS, dwMediaModes) == 60, "LINEDEVCAPS layout");
static_assert(sizeof(LINECALLINFO) == 296, "LINECALLINFO layout");
static_assert(__builtin_offsetof(LINECALLINFO, dwRate) == 28, "LINECALLINFO layout");
static_assert(__builtin_offsetof(LINECALLINFO, dwCallerIDFlags) == 108, "LINECALLINFO layout");
static_assert(__builtin_offsetof(LINECALLINFO, dwCallerIDNameOffset) == 124, "LINECALLINFO layout");
#endif

OVTAPI_API LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance,
                               LINECALLBACK lpfnCallback, LPCSTR lpszAppName, LPDWORD lpdwNumDevs);
OVTAPI_API LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                        DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                        LPLINEEXTENSIONID lpExtensionID);
OVTAPI_API LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                               DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps);
OVTAPI_API LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                         DWORD dwExtVersion, DWORD dwCallbackInstance, DWORD dwPrivileges,
                         DWORD dwMediaModes, const LINECALLPARAMS* lpCallParams);
OVTAPI_API LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect,
                          LPVARSTRING lpDeviceID, LPCSTR lpszDeviceClass);
OVTAPI_API LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo);
OVTAPI_API LONG lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
OVTAPI_API LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
OVTAPI_API LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
OVTAPI_API LONG lineDeallocateCall(HCALL hCall);
OVTAPI_API LONG lineClose(HLINE hLine);
OVTAPI_API LONG lineShutdown(HLINEAPP hLineApp);

#ifdef __cplusplus
}
#endif

#endif

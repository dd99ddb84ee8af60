// The telephony library bound at run time: one wrapper per function the server uses, with the
// function's own parameters and result. A wrapper looks its function up on first use; when the
// library or the export is missing it returns LINEERR_OPERATIONUNAVAIL, then and ever after.
#pragma once

#include "platform/telephony/ovtapi.h"

namespace tapi {

LONG lineAccept(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineAnswer(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineClose(HLINE hLine);
LONG lineDeallocateCall(HCALL hCall);
LONG lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG lineGetCallInfo(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG lineGetDevCaps(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, DWORD dwExtVersion,
                    LPLINEDEVCAPS lpLineDevCaps);
LONG lineGetID(HLINE hLine, DWORD dwAddressID, HCALL hCall, DWORD dwSelect, LPVARSTRING lpDeviceID,
               LPCSTR lpszDeviceClass);
LONG lineInitialize(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                    LPCSTR lpszAppName, LPDWORD lpdwNumDevs);
LONG lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                             DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                             LPLINEEXTENSIONID lpExtensionID);
LONG lineOpen(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
              DWORD dwExtVersion, DWORD dwCallbackInstance, DWORD dwPrivileges, DWORD dwMediaModes,
              const LINECALLPARAMS* lpCallParams);
LONG lineShutdown(HLINEAPP hLineApp);

// Tests only, before the first wrapper call: the library name to load instead of
// "libovtapi.so" (found through the executable's RUNPATH).
void setTelephonyLibraryName(const char* name);
// Whether the library has been found missing (never retried).
bool telephonyLibraryMissing();

} // namespace tapi

#include "server/sysop/config_dialogs.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "server/modems/telephony.h"
#include "server/preferences/preferences.h"
#include "server/sysop/app_state.h"
#include "server/sysop/number_field.h"

namespace {

constexpr DWORD Tab = OV_TABSTOP;
constexpr DWORD DialogStyle = OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER;
constexpr const char* NoteText = "Changes will take effect the next time the BBS is started.";
constexpr const char* GeneralHelpText = "Max. # of simultaneous users and the idle timeout act at "
                                        "once; the other settings at the next start.";

// The largest idle time-out in minutes whose milliseconds fit the stored 32 bits.
constexpr uint32_t MaxIdleMinutes = UINT32_MAX / 60000u;

void setFieldNumber(HWND dlg, int id, uint32_t value) {
    ovSetDlgItemInt(dlg, id, value, FALSE);
}

bool isChecked(HWND dlg, int id) {
    return ovIsDlgButtonChecked(dlg, id) == BST_CHECKED;
}

void setChecked(HWND dlg, int id, bool on) {
    ovCheckDlgButton(dlg, id, on ? BST_CHECKED : BST_UNCHECKED);
}

void showNote(HWND dlg) {
    (void)ovMessageBox(dlg, NoteText, "Note", MB_OK | MB_ICONINFORMATION);
}

// Close box and Cancel end the dialog without storing anything.
bool endsWithoutStoring(HWND dlg, UINT msg, WPARAM wParam) {
    if (msg == WM_CLOSE || (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL)) {
        ovEndDialog(dlg, IDCANCEL);
        return true;
    }
    return false;
}

void runDialog(const OvDialogTemplate& tpl, DLGPROC proc) {
    (void)ovDialogBox(&tpl, mainWindow.load(), proc, 0);
}

// ---- General preferences (121) ---------------------------------------------------------------
enum : int {
    IdcUseTcp = 1050,
    IdcRestoreDefaults = 1052,
    IdcUseTapi = 1056,
    IdcMaxUsers = 1057,
    IdcIdleMinutes = 1058,
    IdcKeyYes = 1059,
    IdcKeyNo = 1060,
    IdcKeyQuit = 1061,
    IdcKeyBack = 1062,
    IdcUnrevealing = 1065,
    IdcGeneralHelp = 1066,
};

const OvControlTemplate generalControls[] = {
    {IdcUseTcp, OV_CHECKBOX, "Use TCP", 10, 8, 80, 10, Tab, 0},
    {IdcUseTapi, OV_CHECKBOX, "Use TAPI", 10, 20, 80, 10, Tab, 0},
    {IdcUnrevealing, OV_CHECKBOX, "Unrevealing login screens (no ID)", 10, 32, 150, 10, Tab, 0},
    {OV_NOID, OV_STATIC, "Max. # of simultaneous users:", 10, 51, 110, 8, 0, 0},
    {IdcMaxUsers, OV_EDIT, "", 125, 49, 30, 12, Tab | OV_NUMBER, 0},
    {OV_NOID, OV_STATIC, "Idle timeout value (minutes):", 10, 67, 110, 8, 0, 0},
    {IdcIdleMinutes, OV_EDIT, "", 125, 65, 30, 12, Tab | OV_NUMBER, 0},
    {OV_NOID, OV_GROUPBOX, "Input characters", 7, 84, 186, 32, 0, 0},
    {OV_NOID, OV_STATIC, "\"Yes\"", 14, 99, 20, 8, 0, 0},
    {IdcKeyYes, OV_EDIT, "", 36, 97, 14, 12, Tab | OV_UPPERCASE, 0},
    {OV_NOID, OV_STATIC, "\"No\"", 58, 99, 16, 8, 0, 0},
    {IdcKeyNo, OV_EDIT, "", 76, 97, 14, 12, Tab | OV_UPPERCASE, 0},
    {OV_NOID, OV_STATIC, "\"Quit\"", 98, 99, 22, 8, 0, 0},
    {IdcKeyQuit, OV_EDIT, "", 122, 97, 14, 12, Tab | OV_UPPERCASE, 0},
    {OV_NOID, OV_STATIC, "\"Back\"", 144, 99, 24, 8, 0, 0},
    {IdcKeyBack, OV_EDIT, "", 170, 97, 14, 12, Tab | OV_UPPERCASE, 0},
    {IdcRestoreDefaults, OV_BUTTON, "Restore all defaults", 7, 124, 80, 14, Tab, 0},
    {IDOK, OV_DEFBUTTON, "OK", 100, 124, 45, 14, Tab, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 148, 124, 45, 14, Tab, 0},
    // The note after OK says "next start" for all; these two act on the running server.
    {IdcGeneralHelp, OV_STATIC, GeneralHelpText, 7, 144, 186, 16, 0, 0},
};
const OvDialogTemplate generalTemplate = {
    GeneralDialogId,
    "General preferences",
    200,
    164,
    DialogStyle,
    nullptr,
    0,
    generalControls,
    static_cast<int>(std::size(generalControls)),
};

struct KeyField {
    int id;
    char (*get)();
    bool (*set)(char);
};
const KeyField keyFields[] = {
    {IdcKeyYes, getKeyYes, setKeyYes},
    {IdcKeyNo, getKeyNo, setKeyNo},
    {IdcKeyQuit, getKeyQuit, setKeyQuit},
    {IdcKeyBack, getKeyBack, setKeyBack},
};

void showGeneralValues(HWND dlg) {
    setChecked(dlg, IdcUseTcp, getUseTcp());
    setChecked(dlg, IdcUseTapi, getUseTapi());
    setChecked(dlg, IdcUnrevealing, getUnrevealingLogin());
    setFieldNumber(dlg, IdcMaxUsers, getMaxUsers());
    setFieldNumber(dlg, IdcIdleMinutes, getIdleTimeoutMs() / 60000u);
    for (const KeyField& k : keyFields) {
        const char text[2] = {k.get(), '\0'};
        ovSetDlgItemText(dlg, k.id, text);
    }
}

void showGeneralDefaults(HWND dlg) {
    setChecked(dlg, IdcUseTcp, true);
    setChecked(dlg, IdcUseTapi, true);
    setChecked(dlg, IdcUnrevealing, false);
    setFieldNumber(dlg, IdcMaxUsers, 5);
    setFieldNumber(dlg, IdcIdleMinutes, 5);
    ovSetDlgItemText(dlg, IdcKeyYes, "Y");
    ovSetDlgItemText(dlg, IdcKeyNo, "N");
    ovSetDlgItemText(dlg, IdcKeyQuit, "Q");
    ovSetDlgItemText(dlg, IdcKeyBack, "\\");
}

// False, storing nothing, when a number is out of range (the sysop was told).
bool storeGeneralValues(HWND dlg) {
    uint32_t maxUsers = 0, idleMinutes = 0;
    if (!numberField(dlg, IdcMaxUsers, "Max. # of simultaneous users", 0, UINT32_MAX, maxUsers) ||
        !numberField(dlg, IdcIdleMinutes, "The idle time-out", 0, MaxIdleMinutes, idleMinutes))
        return false;
    (void)setUseTcp(isChecked(dlg, IdcUseTcp));
    (void)setUseTapi(isChecked(dlg, IdcUseTapi));
    (void)setUnrevealingLogin(isChecked(dlg, IdcUnrevealing));
    (void)setMaxUsers(maxUsers);
    (void)setIdleTimeoutMs(idleMinutes * 60000u);
    for (const KeyField& k : keyFields) {
        char text[8] = {};
        // An emptied field keeps the stored character.
        if (ovGetDlgItemText(dlg, k.id, text, sizeof text) > 0 && text[0]) (void)k.set(text[0]);
    }
    return true;
}

INT_PTR generalProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    if (endsWithoutStoring(dlg, msg, wParam)) return TRUE;
    if (msg == WM_INITDIALOG) {
        for (const KeyField& k : keyFields)
            ovLimitText(dlg, k.id, 1);
        showGeneralValues(dlg);
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case IdcRestoreDefaults:
        showGeneralDefaults(dlg);
        return TRUE;
    case IDOK:
        if (!storeGeneralValues(dlg)) return TRUE;
        showNote(dlg);
        ovEndDialog(dlg, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- Modem configuration (124) ---------------------------------------------------------------
enum : int {
    IdcModemUseTapi = 1056,
    IdcDeviceCount = 1062,
    IdcMinimumBps = 1064,
};

const OvControlTemplate modemControls[] = {
    {OV_NOID, OV_STATIC, "TAPI data modem devices found:", 10, 10, 110, 8, 0, 0},
    {IdcDeviceCount, OV_STATIC, "", 122, 10, 30, 8, 0, 0},
    {IdcModemUseTapi, OV_CHECKBOX, "Accept calls from TAPI (use modems)", 10, 24, 150, 10, Tab, 0},
    {OV_NOID, OV_STATIC, "Minimum BPS accepted:", 10, 44, 80, 8, 0, 0},
    {IdcMinimumBps, OV_COMBOBOX, "", 92, 42, 60, 80, Tab, 0},
    {IDOK, OV_DEFBUTTON, "OK", 52, 66, 50, 14, Tab, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 106, 66, 50, 14, Tab, 0},
};
const OvDialogTemplate modemTemplate = {
    ModemDialogId,
    "Modem configuration",
    166,
    88,
    DialogStyle,
    nullptr,
    0,
    modemControls,
    static_cast<int>(std::size(modemControls)),
};

const char* const modemRates[] = {"300",   "1200",  "2400",  "9600",   "14400",
                                  "19200", "28800", "33600", "53000",  "54600",
                                  "56000", "57600", "64000", "115200", "128000"};

INT_PTR modemProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    if (endsWithoutStoring(dlg, msg, wParam)) return TRUE;
    if (msg == WM_INITDIALOG) {
        setChecked(dlg, IdcModemUseTapi, getUseTapi());
        setFieldNumber(dlg, IdcDeviceCount, modemDeviceCount());
        for (const char* rate : modemRates)
            ovComboAddString(dlg, IdcMinimumBps, rate);
        setFieldNumber(dlg, IdcMinimumBps, getMinimumBps());
        ovEnableDlgItem(dlg, IdcMinimumBps, getUseTapi());
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case IdcModemUseTapi:
        ovEnableDlgItem(dlg, IdcMinimumBps, isChecked(dlg, IdcModemUseTapi));
        return TRUE;
    case IDOK: {
        uint32_t bps = 0;
        if (!numberField(dlg, IdcMinimumBps, "Minimum BPS accepted", 0, UINT32_MAX, bps))
            return TRUE;
        (void)setUseTapi(isChecked(dlg, IdcModemUseTapi));
        (void)setMinimumBps(bps);
        showNote(dlg);
        ovEndDialog(dlg, IDOK);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// ---- Telnet configuration (120) --------------------------------------------------------------
enum : int {
    IdcAllowTelnet = 1050,
    IdcTelnetPort = 1051,
    IdcTelnetDefaults = 1052,
};
constexpr uint32_t DefaultTelnetPort = 23;

const OvControlTemplate telnetControls[] = {
    {IdcAllowTelnet, OV_CHECKBOX, "Allow telnet connections (requires TCP/IP)", 10, 8, 170, 10, Tab,
     0},
    {OV_NOID, OV_STATIC, "Accept connections to TCP port:", 10, 27, 115, 8, 0, 0},
    {IdcTelnetPort, OV_EDIT, "", 128, 25, 40, 12, Tab | OV_NUMBER, 0},
    {IDOK, OV_DEFBUTTON, "OK", 10, 48, 50, 14, Tab, 0},
    {IdcTelnetDefaults, OV_BUTTON, "Defaults", 65, 48, 50, 14, Tab, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 120, 48, 50, 14, Tab, 0},
};
const OvDialogTemplate telnetTemplate = {
    TelnetDialogId,
    "Telnet configuration",
    180,
    70,
    DialogStyle,
    nullptr,
    0,
    telnetControls,
    static_cast<int>(std::size(telnetControls)),
};

INT_PTR telnetProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    if (endsWithoutStoring(dlg, msg, wParam)) return TRUE;
    if (msg == WM_INITDIALOG) {
        setChecked(dlg, IdcAllowTelnet, getUseTcp());
        setFieldNumber(dlg, IdcTelnetPort, getTelnetPort());
        ovEnableDlgItem(dlg, IdcTelnetPort, getUseTcp());
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case IdcAllowTelnet:
        ovEnableDlgItem(dlg, IdcTelnetPort, isChecked(dlg, IdcAllowTelnet));
        return TRUE;
    case IdcTelnetDefaults:
        setChecked(dlg, IdcAllowTelnet, true);
        setFieldNumber(dlg, IdcTelnetPort, DefaultTelnetPort);
        ovEnableDlgItem(dlg, IdcTelnetPort, TRUE);
        return TRUE;
    case IDOK: {
        uint32_t port = 0;
        if (!numberField(dlg, IdcTelnetPort, "The Telnet port", 1, 65535, port)) return TRUE;
        (void)setUseTcp(isChecked(dlg, IdcAllowTelnet));
        (void)setTelnetPort(static_cast<uint16_t>(port));
        showNote(dlg);
        ovEndDialog(dlg, IDOK);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// ---- Response strings (123) ------------------------------------------------------------------
struct ResponseField {
    int id;
    PrefText text;
};
// In the order they are stored on OK.
const ResponseField responseFields[] = {
    {1032, PrefText::LoginPrompt},
    {1033, PrefText::PasswordPrompt},
    {1036, PrefText::RealNamePrompt},
    {1035, PrefText::UseAnsiPrompt},
    {1037, PrefText::NewHandlePrompt},
    {1038, PrefText::NewPasswordPrompt},
    {1039, PrefText::RepeatPasswordPrompt},
    {1040, PrefText::LoginFailure},
    {1041, PrefText::TooManyUsers},
    {1042, PrefText::HowToCreate},
    {1043, PrefText::NameInUse},
    {1044, PrefText::DidNotMatch},
    {1045, PrefText::GenericError},
    {1046, PrefText::NewAccountName},
    {1047, PrefText::LogoffOptionName},
};
constexpr int MaxResponseLength = 254;

#define RESPONSE_ROW(label, id, y)                                                                 \
    {OV_NOID, OV_STATIC, label, 12, y + 2, 82, 8, 0, 0}, {                                         \
        id, OV_EDIT, "", 96, y, 200, 12, Tab, 0                                                    \
    }

const OvControlTemplate responseControls[] = {
    {OV_NOID, OV_GROUPBOX, "Input prompts", 5, 3, 298, 112, 0, 0},
    RESPONSE_ROW("Login", 1032, 14),
    RESPONSE_ROW("Password", 1033, 28),
    RESPONSE_ROW("Real name", 1036, 42),
    RESPONSE_ROW("Use ANSI?", 1035, 56),
    RESPONSE_ROW("New handle", 1037, 70),
    RESPONSE_ROW("New password", 1038, 84),
    RESPONSE_ROW("Repeat password", 1039, 98),
    {OV_NOID, OV_GROUPBOX, "Response messages", 5, 118, 298, 98, 0, 0},
    RESPONSE_ROW("Login failure", 1040, 129),
    RESPONSE_ROW("Too many users", 1041, 143),
    RESPONSE_ROW("How to create", 1042, 157),
    RESPONSE_ROW("Name is in use", 1043, 171),
    RESPONSE_ROW("Did not match", 1044, 185),
    RESPONSE_ROW("Generic error", 1045, 199),
    {OV_NOID, OV_GROUPBOX, "Miscellaneous", 5, 219, 298, 42, 0, 0},
    {OV_NOID, OV_STATIC, "Name for \"new\" account", 12, 232, 82, 8, 0, 0},
    {1046, OV_EDIT, "", 96, 230, 200, 12, Tab | OV_LOWERCASE, 0},
    RESPONSE_ROW("Name of \"logoff\" option", 1047, 244),
    {IDOK, OV_DEFBUTTON, "OK", 196, 266, 50, 14, Tab, 0},
    {IDCANCEL, OV_BUTTON, "Cancel", 253, 266, 50, 14, Tab, 0},
};
#undef RESPONSE_ROW

const OvDialogTemplate responseTemplate = {
    ResponseStringsDialogId,
    "Response string configuration",
    308,
    286,
    DialogStyle,
    nullptr,
    0,
    responseControls,
    static_cast<int>(std::size(responseControls)),
};

INT_PTR responseProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    if (endsWithoutStoring(dlg, msg, wParam)) return TRUE;
    if (msg == WM_INITDIALOG) {
        for (const ResponseField& f : responseFields) {
            char text[PrefTextSize];
            getPrefText(f.text, text);
            ovSetDlgItemText(dlg, f.id, text);
        }
        return TRUE;
    }
    if (msg == WM_COMMAND && LOWORD(wParam) == IDOK) {
        for (const ResponseField& f : responseFields) {
            char text[MaxResponseLength + 1] = {};
            ovGetDlgItemText(dlg, f.id, text, sizeof text);
            (void)setPrefText(f.text, text);
        }
        ovEndDialog(dlg, IDOK);
        return TRUE;
    }
    return FALSE;
}

} // namespace

void showGeneralDialog() {
    runDialog(generalTemplate, generalProc);
}
void showModemDialog() {
    runDialog(modemTemplate, modemProc);
}
void showTelnetDialog() {
    runDialog(telnetTemplate, telnetProc);
}
void showResponseStringsDialog() {
    runDialog(responseTemplate, responseProc);
}

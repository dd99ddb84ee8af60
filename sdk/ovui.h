/* The UI runtime's C ABI (libovui.so): dialogs built from templates, controls, menus, message
 * boxes, the open-file dialog, the tray, the text editor, timers and descriptor watches.
 *
 * One UI thread owns every window: the thread that called ovInitialize. Window procedures always
 * run on it. Every function here may be called from any thread; control operations made off the
 * UI thread change the state at once and post the notifications they cause to the UI thread.
 * Handles are opaque; a handle of a window that no longer exists is refused (FALSE, 0 or -1).
 * Strings are UTF-8 (in practice ASCII), zero-terminated. Message values are the desktop's.
 * Stable: only grows. See platform/ui/README.md. */
#ifndef OVUI_H
#define OVUI_H

#include "ovtypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OVUI_API __attribute__((visibility("default")))

/* ---- Messages ---------------------------------------------------------------------------- */
#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_SETTEXT 0x000C /* lParam: const char* */
#define WM_GETTEXT 0x000D /* wParam: buffer size, lParam: char* */
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NOTIFY 0x004E     /* wParam: control id, lParam: NMHDR* (NMTREEVIEW*, NMLISTVIEW*) */
#define WM_INITDIALOG 0x0110 /* lParam: the initParam given when the dialog was created */
#define WM_COMMAND 0x0111    /* wParam: MAKEWPARAM(id, code), lParam: control HWND or 0 */
#define WM_SYSCOMMAND 0x0112 /* wParam: SC_* */
#define WM_TIMER 0x0113      /* wParam: timer id */
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_USER 0x0400
#define WM_APP 0x8000

#define SC_MINIMIZE 0xF020
#define SC_MAXIMIZE 0xF030
#define SC_CLOSE 0xF060
#define SC_RESTORE 0xF120

/* Notification codes: high word of WM_COMMAND's wParam, or NMHDR.code for WM_NOTIFY. */
#define BN_CLICKED 0
#define LBN_SELCHANGE 1
#define LBN_DBLCLK 2
#define CBN_SELCHANGE 1
#define CBN_EDITCHANGE 5
#define EN_CHANGE 0x0300
#define NM_DBLCLK ((UINT)-3)
#define LVN_ITEMCHANGED ((UINT)-101)
#define TVN_SELCHANGED ((UINT)-402)

#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define MB_OK 0x00
#define MB_OKCANCEL 0x01
#define MB_YESNOCANCEL 0x03
#define MB_YESNO 0x04
#define MB_ICONERROR 0x10
#define MB_ICONQUESTION 0x20
#define MB_ICONWARNING 0x30
#define MB_ICONINFORMATION 0x40

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_RESTORE 9

#define MF_STRING 0x0000
#define MF_BYCOMMAND 0x0000
#define MF_ENABLED 0x0000
#define MF_UNCHECKED 0x0000
#define MF_GRAYED 0x0001
#define MF_DISABLED 0x0002
#define MF_CHECKED 0x0008
#define MF_POPUP 0x0010 /* ovAppendMenu: id is the HMENU of the pop-up */
#define MF_BYPOSITION 0x0400
#define MF_SEPARATOR 0x0800

#define BST_UNCHECKED 0
#define BST_CHECKED 1

/* ---- Notification records ------------------------------------------------------------------ */
typedef uintptr_t HTREEITEM; /* 0: none (as a parent: the root) */

typedef struct NMHDR {
    HWND hwndFrom;   /* the control */
    UINT_PTR idFrom; /* its id */
    UINT code;
} NMHDR;

typedef struct OvTreeItem {
    HTREEITEM hItem;
    LPARAM lParam; /* the item's data */
} OvTreeItem;

#define TVC_UNKNOWN 0 /* NMTREEVIEW.action: programmatic (ovTreeSelectItem, delete) */
#define TVC_BYMOUSE 1 /* the user chose the item */

typedef struct NMTREEVIEW { /* TVN_SELCHANGED */
    NMHDR hdr;
    UINT action;
    OvTreeItem itemOld;
    OvTreeItem itemNew;
} NMTREEVIEW;

#define LVIS_SELECTED 0x0002

typedef struct NMLISTVIEW { /* LVN_ITEMCHANGED, and NM_DBLCLK on a list view */
    NMHDR hdr;
    int iItem; /* row, -1 none */
    int iSubItem;
    UINT uNewState; /* LVIS_SELECTED or 0 */
    UINT uOldState;
    LPARAM lParam; /* the row's data */
} NMLISTVIEW;

typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);

/* ---- Templates (data tables; sizes in dialog units) ----------------------------------------- */
enum OvControlKind {
    OV_STATIC = 1,
    OV_GROUPBOX,
    OV_BUTTON,    /* push button */
    OV_DEFBUTTON, /* default push button: Enter presses it */
    OV_CHECKBOX,  /* auto check box: toggles itself, then BN_CLICKED */
    OV_EDIT,
    OV_LISTBOX,
    OV_COMBOBOX, /* drop-down: typing allowed */
    OV_TREEVIEW,
    OV_LISTVIEW, /* report view with a small image list */
    OV_BITMAP,   /* static picture: resource id */
    OV_ICON      /* static picture: resource id */
};

/* Control styles. */
#define OV_DISABLED 0x00000001u
#define OV_READONLY 0x00000002u  /* edit: refuses typing */
#define OV_NUMBER 0x00000004u    /* edit: digits only */
#define OV_UPPERCASE 0x00000008u /* edit, combo: typed letters become upper case */
#define OV_LOWERCASE 0x00000010u /* edit, combo: typed letters become lower case */
#define OV_PASSWORD 0x00000020u  /* edit: write-only, snapshots never carry its text */
#define OV_SORT 0x00000040u      /* list box, combo: sorted insert, case-insensitive */
#define OV_NOTIFY 0x00000080u    /* list box: LBN_SELCHANGE / LBN_DBLCLK; static: BN_CLICKED */
#define OV_TABSTOP 0x00000100u
#define OV_HIDDEN 0x00000200u
#define OV_HASBUTTONS 0x00000400u   /* tree */
#define OV_HASLINES 0x00000800u     /* tree */
#define OV_LINESATROOT 0x00001000u  /* tree */
#define OV_SINGLESEL 0x00002000u    /* list view */
#define OV_NOSORTHEADER 0x00004000u /* list view */
#define OV_MULTILINE 0x00008000u    /* edit */
#define OV_CENTER 0x00010000u       /* static: centred text */
#define OV_RIGHT 0x00020000u        /* static: right-aligned text */

/* Dialog styles. */
#define OV_DS_CAPTION 0x0001u
#define OV_DS_SYSMENU 0x0002u /* close box */
#define OV_DS_MINIMIZEBOX 0x0004u
#define OV_DS_MAXIMIZEBOX 0x0008u
#define OV_DS_CENTER 0x0010u
#define OV_DS_MODALFRAME 0x0020u
#define OV_DS_HIDDEN 0x0040u /* created hidden; ovShowWindow shows it */

#define OV_NOID (-1) /* unnamed statics and group boxes (0xFFFF is taken the same way) */

typedef struct OvControlTemplate {
    int id;
    int kind; /* OvControlKind */
    const char* text;
    short x, y, cx, cy;
    DWORD style;
    int resource; /* OV_BITMAP / OV_ICON picture id, else 0 */
} OvControlTemplate;

typedef struct OvMenuTemplate {
    const char* text; /* with '&' mnemonics; NULL with MF_SEPARATOR */
    UINT id;
    UINT flags; /* MF_GRAYED, MF_CHECKED, MF_SEPARATOR, MF_POPUP */
    const struct OvMenuTemplate* popup;
    int popupCount;
} OvMenuTemplate;

typedef struct OvDialogTemplate {
    int id; /* the resource id; ovuiFindWindowByTemplate finds windows by it */
    const char* title;
    short cx, cy;
    DWORD style;                /* OV_DS_* */
    const OvMenuTemplate* menu; /* the menu bar's pop-ups, or NULL */
    int menuCount;
    const OvControlTemplate* controls;
    int controlCount;
} OvDialogTemplate;

/* ---- Runtime and windows ------------------------------------------------------------------ */
/* The calling thread becomes the UI thread; idempotent (a second thread gets FALSE). */
OVUI_API BOOL ovInitialize(void);
OVUI_API BOOL ovIsUiThread(void);
/* Runs the loop on the UI thread until ovPostQuitMessage; returns its exit code. */
OVUI_API int ovRunMessageLoop(void);
OVUI_API void ovPostQuitMessage(int exitCode);

/* Modal: disables the owner (and every other top-level window), runs a nested loop until
 * ovEndDialog, destroys the dialog and returns the result; -1 if it cannot be created. Called
 * off the UI thread, the dialog runs on the UI thread and the caller waits for its result. */
OVUI_API INT_PTR ovDialogBox(const OvDialogTemplate* tpl, HWND owner, DLGPROC proc,
                             LPARAM initParam);
/* Modeless; visible unless OV_DS_HIDDEN. The template and its strings are copied, so they
 * may live on the caller's stack. NULL if it cannot be created. */
OVUI_API HWND ovCreateDialog(const OvDialogTemplate* tpl, HWND owner, DLGPROC proc,
                             LPARAM initParam);
OVUI_API BOOL ovEndDialog(HWND dlg, INT_PTR result);
OVUI_API BOOL ovDestroyWindow(HWND wnd); /* sends WM_DESTROY, then the handle is dead */
OVUI_API BOOL ovIsWindow(HWND wnd);
OVUI_API HWND ovGetParent(HWND wnd); /* a control's dialog, a dialog's owner */

/* On the UI thread: calls the procedure now, then the default handling if it returned FALSE.
 * Off it: runs on the UI thread and the caller waits for the result. */
OVUI_API LRESULT ovSendMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
/* Any thread; queued in order with ovPostCall. FALSE if the window does not exist. */
OVUI_API BOOL ovPostMessage(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
/* Async-signal-safe ovPostMessage for signal handlers (SIGTERM posting WM_CLOSE); the window
 * is checked when the message is dispatched. Needs ovInitialize (or any post) beforehand. */
OVUI_API BOOL ovPostMessageFromSignal(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
/* Any thread: fn(arg) runs on the UI thread inside whichever loop is running. */
OVUI_API BOOL ovPostCall(void (*fn)(void*), void* arg);
/* 0xC000..0xFFFF; the same name always gives the same value. 0 for a NULL or empty name. */
OVUI_API UINT ovRegisterWindowMessage(const char* name);

OVUI_API BOOL ovShowWindow(HWND wnd, int cmd); /* returns whether it was visible before */
OVUI_API BOOL ovSetForegroundWindow(HWND wnd);
OVUI_API BOOL ovIsWindowVisible(HWND wnd);
OVUI_API BOOL ovIsIconic(HWND wnd);
OVUI_API BOOL ovEnableWindow(HWND wnd, BOOL enable); /* returns whether it was disabled */
OVUI_API BOOL ovIsWindowEnabled(HWND wnd);
OVUI_API HWND ovGetDlgItem(HWND dlg, int id);
OVUI_API int ovGetDlgCtrlID(HWND control);
OVUI_API BOOL ovSetWindowText(HWND wnd, const char* text);
OVUI_API int ovGetWindowText(HWND wnd, char* buf, int max); /* length copied */
OVUI_API HWND ovFindWindow(const char* title);              /* a top-level window */
/* One pointer-sized value per window for the owner's use (like DWLP_USER). */
OVUI_API LPARAM ovSetWindowUserData(HWND wnd, LPARAM data); /* returns the previous value */
OVUI_API LPARAM ovGetWindowUserData(HWND wnd);

/* ---- Controls, addressed by (dialog, control id) ----------------------------------------- */
OVUI_API BOOL ovSetDlgItemText(HWND dlg, int id, const char* text);
OVUI_API UINT ovGetDlgItemText(HWND dlg, int id, char* buf, int max); /* length copied */
OVUI_API BOOL ovSetDlgItemInt(HWND dlg, int id, UINT value, BOOL isSigned);
OVUI_API UINT ovGetDlgItemInt(HWND dlg, int id, BOOL* translated, BOOL isSigned);
OVUI_API BOOL ovEnableDlgItem(HWND dlg, int id, BOOL enable);
OVUI_API BOOL ovIsDlgItemEnabled(HWND dlg, int id);
OVUI_API BOOL ovShowDlgItem(HWND dlg, int id, BOOL show);
OVUI_API BOOL ovCheckDlgButton(HWND dlg, int id, UINT check); /* BST_* */
OVUI_API UINT ovIsDlgButtonChecked(HWND dlg, int id);
OVUI_API BOOL ovSetFocus(HWND dlg, int id);
OVUI_API int ovGetFocus(HWND dlg);                    /* control id with the focus, 0 none */
OVUI_API BOOL ovLimitText(HWND dlg, int id, int max); /* edit, combo; 0 = no limit */

/* List box. Indexes from 0; -1 means none. */
OVUI_API int ovListAddString(HWND dlg, int id, const char* text);               /* index or -1 */
OVUI_API int ovListInsertString(HWND dlg, int id, int index, const char* text); /* -1: last */
OVUI_API BOOL ovListDeleteString(HWND dlg, int id, int index);
OVUI_API void ovListReset(HWND dlg, int id);
OVUI_API int ovListGetCount(HWND dlg, int id);
OVUI_API int ovListGetCurSel(HWND dlg, int id);
OVUI_API BOOL ovListSetCurSel(HWND dlg, int id, int index); /* -1 clears; no LBN_SELCHANGE */
OVUI_API int ovListGetText(HWND dlg, int id, int index, char* buf, int max); /* -1 if none */
OVUI_API BOOL ovListSetItemData(HWND dlg, int id, int index, LPARAM data);
OVUI_API LPARAM ovListGetItemData(HWND dlg, int id, int index); /* -1 if none */
/* Whole text, case-insensitive, searching after startAfter (-1: from the top) and wrapping. */
OVUI_API int ovListFindStringExact(HWND dlg, int id, int startAfter, const char* text);

/* Combo box (drop-down). Its edit text goes through ovSetDlgItemText / ovGetDlgItemText. */
OVUI_API int ovComboAddString(HWND dlg, int id, const char* text);
OVUI_API void ovComboReset(HWND dlg, int id);
OVUI_API int ovComboGetCount(HWND dlg, int id);
OVUI_API BOOL ovComboSetCurSel(HWND dlg, int id, int index); /* also sets the text */
OVUI_API int ovComboGetCurSel(HWND dlg, int id);
OVUI_API int ovComboGetText(HWND dlg, int id, int index, char* buf, int max);
OVUI_API int ovComboFindStringExact(HWND dlg, int id, int startAfter, const char* text);

/* Tree view. */
OVUI_API HTREEITEM ovTreeInsertItem(HWND dlg, int id, HTREEITEM parent, const char* text,
                                    LPARAM data); /* last among its siblings; 0 on failure */
OVUI_API BOOL ovTreeSetItemText(HWND dlg, int id, HTREEITEM item, const char* text);
OVUI_API int ovTreeGetItemText(HWND dlg, int id, HTREEITEM item, char* buf, int max);
OVUI_API LPARAM ovTreeGetItemData(HWND dlg, int id, HTREEITEM item);
OVUI_API HTREEITEM ovTreeGetParent(HWND dlg, int id, HTREEITEM item);
OVUI_API HTREEITEM ovTreeGetChild(HWND dlg, int id, HTREEITEM item); /* first; 0 = roots */
OVUI_API HTREEITEM ovTreeGetNextSibling(HWND dlg, int id, HTREEITEM item);
OVUI_API HTREEITEM ovTreeGetSelection(HWND dlg, int id);
/* Sends TVN_SELCHANGED (action TVC_UNKNOWN) when the selection changes; 0 clears it. */
OVUI_API BOOL ovTreeSelectItem(HWND dlg, int id, HTREEITEM item);
/* With its subtree. A selection inside moves to the next sibling, else the previous sibling,
 * else the parent (TVN_SELCHANGED). */
OVUI_API BOOL ovTreeDeleteItem(HWND dlg, int id, HTREEITEM item);
OVUI_API BOOL ovTreeExpand(HWND dlg, int id, HTREEITEM item, BOOL expand);
OVUI_API void ovTreeDeleteAll(HWND dlg, int id);
OVUI_API int ovTreeGetCount(HWND dlg, int id);

/* List view (report). */
OVUI_API BOOL ovListViewInsertColumn(HWND dlg, int id, int col, const char* header, int widthPx);
OVUI_API BOOL ovListViewSetImages(HWND dlg, int id, const int* iconResources, int count);
OVUI_API int ovListViewInsertItem(HWND dlg, int id, int row, const char* text, int image);
OVUI_API BOOL ovListViewSetItemText(HWND dlg, int id, int row, int col, const char* text);
OVUI_API int ovListViewGetItemText(HWND dlg, int id, int row, int col, char* buf, int max);
OVUI_API BOOL ovListViewSetItemImage(HWND dlg, int id, int row, int image);
OVUI_API BOOL ovListViewSetItemData(HWND dlg, int id, int row, LPARAM data);
OVUI_API LPARAM ovListViewGetItemData(HWND dlg, int id, int row);
OVUI_API BOOL ovListViewDeleteItem(HWND dlg, int id, int row);
OVUI_API BOOL ovListViewDeleteAll(HWND dlg, int id);
OVUI_API int ovListViewGetCount(HWND dlg, int id);
OVUI_API int ovListViewGetSelected(HWND dlg, int id);           /* -1 none */
OVUI_API BOOL ovListViewSetSelected(HWND dlg, int id, int row); /* -1 clears */

/* ---- Menus -------------------------------------------------------------------------------- */
/* Choosing an item sends WM_COMMAND(MAKEWPARAM(id, 0), 0) to the menu's window. */
OVUI_API HMENU ovGetMenu(HWND wnd);
OVUI_API HMENU ovGetSubMenu(HMENU menu, int pos);
OVUI_API int ovGetMenuItemCount(HMENU menu); /* -1 for a bad handle */
OVUI_API int ovGetMenuString(HMENU menu, UINT item, char* buf, int max, UINT flags);
OVUI_API HMENU ovCreatePopupMenu(void);
OVUI_API BOOL ovAppendMenu(HMENU menu, UINT flags, UINT_PTR id, const char* text);
OVUI_API BOOL ovDeleteMenu(HMENU menu, UINT item, UINT flags);     /* also inside pop-ups */
OVUI_API DWORD ovCheckMenuItem(HMENU menu, UINT item, UINT flags); /* previous or (DWORD)-1 */
OVUI_API BOOL ovEnableMenuItem(HMENU menu, UINT item, UINT flags); /* previous or -1 */
OVUI_API UINT ovGetMenuState(HMENU menu, UINT item, UINT flags);   /* MF_* or (UINT)-1 */
OVUI_API BOOL ovDrawMenuBar(HWND wnd);

/* ---- Built-in windows ---------------------------------------------------------------------- */
/* Modal (any thread; the caller waits). Shown to the driver's observer (caption, text).
 * Returns IDOK/IDCANCEL/IDYES/IDNO; 0 on failure. */
OVUI_API int ovMessageBox(HWND owner, const char* text, const char* caption, UINT type);

#define OV_OFN_NOCHANGEDIR 0x00000008u /* the dialog never changes the working directory */
#define OV_OFN_PATHMUSTEXIST 0x00000800u
#define OV_OFN_FILEMUSTEXIST 0x00001000u

typedef struct OvOpenFileName {
    HWND owner;
    const char* title;
    const char* filterDescription;
    const char* filterPattern;    /* "*.so"; ';' separates several; case-insensitive */
    const char* defaultExtension; /* "so": added to a chosen name without one */
    char* file;                   /* in: initial name; out: the absolute path chosen */
    DWORD fileSize;
    DWORD flags;            /* OV_OFN_* */
    const char* initialDir; /* NULL: the working directory */
} OvOpenFileName;

/* Modal; TRUE with ofn->file filled, FALSE on cancel or a path that does not fit. */
OVUI_API BOOL ovGetOpenFileName(OvOpenFileName* ofn);

#define NIM_ADD 0
#define NIM_MODIFY 1
#define NIM_DELETE 2
#define NIF_MESSAGE 1
#define NIF_ICON 2
#define NIF_TIP 4

typedef struct OvNotifyIconData {
    HWND hwnd;
    UINT id;
    UINT flags;           /* NIF_*: which of the fields below are set */
    UINT callbackMessage; /* posted to hwnd: wParam = id, lParam = WM_LBUTTONDBLCLK etc. */
    int iconLevel;        /* 0..5: the load picture */
    char tip[64];
} OvNotifyIconData;

OVUI_API BOOL ovShellNotifyIcon(DWORD action, const OvNotifyIconData* data);

/* "notepad FILE": opens a modeless editor window (Save, Close) on FILE, relative paths
 * resolved against workingDirectory (NULL: the process's). FALSE if FILE cannot be read or
 * the command is anything else. */
OVUI_API BOOL ovStartProcess(const char* commandLine, const char* workingDirectory);

/* ---- Timers and descriptor watches ------------------------------------------------------ */
/* WM_TIMER(id) is posted to wnd every ms milliseconds; a running timer with the same id is
 * replaced. Returns id (nonzero), 0 on failure. */
OVUI_API UINT_PTR ovSetTimer(HWND wnd, UINT_PTR id, UINT ms);
OVUI_API BOOL ovKillTimer(HWND wnd, UINT_PTR id);

/* While fd is readable (or at end of file or in error), posts msg(wParam, lParam 0) to target;
 * the next one only after the previous was dispatched. One watch per descriptor (replaced). */
OVUI_API BOOL ovWatchReadable(int fd, HWND target, UINT msg, WPARAM wParam);
OVUI_API BOOL ovWatchReadableEx(int fd, HWND target, UINT msg, WPARAM wParam, LPARAM lParam);
OVUI_API BOOL ovUnwatch(int fd);

#ifdef __cplusplus
}
#endif

#endif

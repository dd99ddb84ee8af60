#include "server/sysop/connections_dialog.h"

#include <iterator>
#include <string>

#include "server/base/product.h"
#include "server/connections/connection.h"
#include "server/sessions/session_list.h"
#include "server/sysop/app_state.h"

namespace {

const OvControlTemplate connectionControls[] = {
    {IdcConnectionList, OV_LISTVIEW, "", 5, 5, 300, 90, OV_SINGLESEL | OV_NOSORTHEADER | OV_TABSTOP,
     0},
    {IDOK, OV_DEFBUTTON, "OK", 5, 100, 50, 14, OV_TABSTOP, 0},
    {IdcRefreshConnections, OV_BUTTON, "Refresh", 60, 100, 50, 14, OV_TABSTOP, 0},
    {IdcDisconnectCaller, OV_BUTTON, "Disconnect", 255, 100, 50, 14, OV_TABSTOP, 0},
};
const OvDialogTemplate connectionsTemplate = {
    ConnectionsDialogId,
    "Active connections",
    310,
    120,
    OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MODALFRAME | OV_DS_CENTER,
    nullptr,
    0,
    connectionControls,
    static_cast<int>(std::size(connectionControls)),
};

// Image indexes in the list view's image list; -1 when the list has no pictures.
struct Images {
    int modem = -1;
    int network = -1;
};

// Each row carries its caller's connection id, so a caller who arrived after the fill (and
// is now at the head of the list) never shifts which caller a row means.
void fill(HWND dlg, const Images& images) {
    ovListViewDeleteAll(dlg, IdcConnectionList);
    int row = 0;
    forEachSession([&](SessionRecord& r) {
        const bool modem = r.connection && r.connection->isModem();
        int at = ovListViewInsertItem(dlg, IdcConnectionList, row, "",
                                      modem ? images.modem : images.network);
        if (at < 0) return;
        ovListViewSetItemData(dlg, IdcConnectionList, at,
                              static_cast<LPARAM>(r.connection ? r.connection->id() : -1));
        ovListViewSetItemText(dlg, IdcConnectionList, at, 1, r.onlineSince);
        ovListViewSetItemText(dlg, IdcConnectionList, at, 2, r.login);
        ovListViewSetItemText(dlg, IdcConnectionList, at, 3, r.description);
        ++row;
    });
}

// After the sysop confirms it, naming the caller as the row shows them; false when nobody was
// dropped.
bool dropSelected(HWND dlg) {
    int row = ovListViewGetSelected(dlg, IdcConnectionList);
    if (row < 0) return false;
    LPARAM id = ovListViewGetItemData(dlg, IdcConnectionList, row);
    if (id < 0) return false;
    char login[64] = {}, description[256] = {};
    ovListViewGetItemText(dlg, IdcConnectionList, row, 2, login, sizeof login);
    ovListViewGetItemText(dlg, IdcConnectionList, row, 3, description, sizeof description);
    std::string question = login[0] ? std::string("Disconnect ") + login + "?"
                                    : std::string("Disconnect this caller?");
    if (description[0]) question += std::string("\n") + description;
    if (ovMessageBox(dlg, question.c_str(), ProductName, MB_YESNO | MB_ICONWARNING) != IDYES)
        return false;
    (void)disconnectSession(static_cast<uint32_t>(id));
    return true;
}

INT_PTR connectionsProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    auto* images = reinterpret_cast<Images*>(ovGetWindowUserData(dlg));
    switch (msg) {
    case WM_INITDIALOG: {
        images = new Images;
        ovSetWindowUserData(dlg, reinterpret_cast<LPARAM>(images));
        const int icons[] = {ModemIconId, NetworkIconId};
        if (ovListViewSetImages(dlg, IdcConnectionList, icons, 2)) {
            images->modem = 0;
            images->network = 1;
        }
        ovListViewInsertColumn(dlg, IdcConnectionList, 0, "", 20);
        ovListViewInsertColumn(dlg, IdcConnectionList, 1, "Online since", 120);
        ovListViewInsertColumn(dlg, IdcConnectionList, 2, "User's login", 80);
        ovListViewInsertColumn(dlg, IdcConnectionList, 3, "Connection name", 220);
        fill(dlg, *images);
        return TRUE;
    }
    case WM_COMMAND:
        if (!images) return FALSE;
        switch (LOWORD(wParam)) {
        case IDOK:
            ovEndDialog(dlg, IDOK);
            return TRUE;
        case IdcRefreshConnections:
            fill(dlg, *images);
            return TRUE;
        case IdcDisconnectCaller:
            // The list stays as it is when the sysop said No, with the caller still chosen.
            if (dropSelected(dlg)) fill(dlg, *images);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        ovEndDialog(dlg, IDCANCEL);
        return TRUE;
    case WM_DESTROY:
        delete images;
        ovSetWindowUserData(dlg, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void showConnectionsDialog() {
    (void)ovDialogBox(&connectionsTemplate, mainWindow.load(), connectionsProc, 0);
}

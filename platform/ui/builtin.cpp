// The built-in windows (message box, open-file dialog, text editor) and the tray icon.
#include "ovui_driver.h"
#include "ui_state.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace ovui;
namespace fs = std::filesystem;

namespace {

constexpr int kMessageText = 100;
constexpr int kDirText = 1101;
constexpr int kEntries = 1102;
constexpr int kFileName = kOpenFileName;
constexpr int kFilterText = 1105;

// ---- Message box ----

bool hasButton(UINT type, int id) {
    switch (type & 0x0F) {
    case MB_OKCANCEL:
        return id == IDOK || id == IDCANCEL;
    case MB_YESNO:
        return id == IDYES || id == IDNO;
    case MB_YESNOCANCEL:
        return id == IDYES || id == IDNO || id == IDCANCEL;
    default:
        return id == IDOK;
    }
}

INT_PTR messageBoxProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        std::string caption, text;
        {
            Guard g;
            Window* w = findWindow(dlg);
            if (!w) return TRUE;
            w->mbType = UINT(lParam);
            caption = w->title;
            if (Control* c = findItem(dlg, kMessageText)) text = c->text;
        }
        reportMessageBox(dlg, caption, text);
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    UINT type;
    {
        Guard g;
        Window* w = findWindow(dlg);
        if (!w) return TRUE;
        type = w->mbType;
    }
    int id = LOWORD(wParam);
    // Escape or the close box: Cancel where there is one, OK on a lone OK button.
    if (id == IDCANCEL && !hasButton(type, IDCANCEL)) id = hasButton(type, IDOK) ? IDOK : 0;
    if (id && hasButton(type, id)) ovEndDialog(dlg, id);
    return TRUE;
}

// ---- Open-file dialog ----

std::string parentDirOf(const std::string& path) {
    fs::path p(path);
    return p.has_parent_path() ? p.parent_path().string() : "/";
}

bool matchesFilter(const std::string& name, const char* patterns) {
    if (!patterns || !*patterns) return true;
    std::stringstream list(patterns);
    std::string pattern;
    while (std::getline(list, pattern, ';')) {
        pattern.erase(0, pattern.find_first_not_of(' '));
        if (!pattern.empty() && fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0)
            return true;
    }
    return false;
}

void setOpenFileError(HWND dlg, const std::string& error) {
    Guard g;
    if (Window* w = findWindow(dlg)) {
        w->openFile.error = error;
        touch();
    }
}

} // namespace

bool ovui::openFileBrowseTo(HWND dlg, const std::string& where) {
    std::string base;
    const char* pattern = nullptr;
    {
        Guard g;
        Window* w = findWindow(dlg);
        if (!w || w->kind != WindowKind::OpenFile || !w->openFile.ofn) return false;
        base = w->openFile.dir;
        pattern = w->openFile.ofn->filterPattern;
    }
    fs::path target =
        (!where.empty() && where[0] == '/') ? fs::path(where) : fs::path(base) / where;
    target = target.lexically_normal();
    std::string dir = target.string();
    if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    std::error_code ec;
    if (!fs::is_directory(target, ec)) {
        setOpenFileError(dlg, "The folder \"" + where + "\" does not exist.");
        return false;
    }
    std::vector<OpenFileState::Entry> dirs, files;
    for (auto it = fs::directory_iterator(target, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code ec2;
        if (it->is_directory(ec2))
            dirs.push_back({name, true});
        else if (matchesFilter(name, pattern))
            files.push_back({name, false});
    }
    auto byName = [](const auto& a, const auto& b) { return compareNoCase(a.name, b.name) < 0; };
    std::sort(dirs.begin(), dirs.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    std::vector<OpenFileState::Entry> entries;
    if (dir != "/") entries.push_back({"..", true});
    entries.insert(entries.end(), dirs.begin(), dirs.end());
    entries.insert(entries.end(), files.begin(), files.end());
    Guard g;
    Window* w = findWindow(dlg);
    if (!w) return false;
    w->openFile.dir = dir;
    w->openFile.entries = entries;
    w->openFile.error.clear();
    ovListReset(dlg, kEntries);
    for (auto& e : entries)
        ovListAddString(dlg, kEntries, (e.isDir ? e.name + "/" : e.name).c_str());
    ovSetDlgItemText(dlg, kDirText, dir.c_str());
    touch();
    return true;
}

namespace {

bool hasExtension(const std::string& name) {
    std::string leaf = fs::path(name).filename().string();
    size_t dot = leaf.rfind('.');
    return dot != std::string::npos && dot != 0;
}

void choose(HWND dlg, const std::string& name) {
    if (name.empty()) return;
    std::string dir;
    OvOpenFileName* ofn = nullptr;
    {
        Guard g;
        Window* w = findWindow(dlg);
        if (!w || !w->openFile.ofn) return;
        dir = w->openFile.dir;
        ofn = w->openFile.ofn;
    }
    fs::path path = (name[0] == '/') ? fs::path(name) : fs::path(dir) / name;
    path = path.lexically_normal();
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        if (openFileBrowseTo(dlg, path.string())) ovSetDlgItemText(dlg, kFileName, "");
        return;
    }
    std::string full = path.string();
    if (!hasExtension(full) && ofn->defaultExtension && *ofn->defaultExtension &&
        !fs::exists(path, ec))
        full += std::string(".") + ofn->defaultExtension;
    if ((ofn->flags & (OV_OFN_PATHMUSTEXIST | OV_OFN_FILEMUSTEXIST)) &&
        !fs::is_directory(parentDirOf(full), ec)) {
        setOpenFileError(dlg, "The path \"" + parentDirOf(full) + "\" does not exist.");
        return;
    }
    if ((ofn->flags & OV_OFN_FILEMUSTEXIST) && !fs::is_regular_file(full, ec)) {
        setOpenFileError(dlg, "The file \"" + name + "\" was not found.");
        return;
    }
    if (full.size() + 1 > ofn->fileSize) {
        ovEndDialog(dlg, FALSE); // the caller's buffer cannot hold the path
        return;
    }
    std::memcpy(ofn->file, full.c_str(), full.size() + 1);
    ovEndDialog(dlg, TRUE);
}

INT_PTR openFileProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* ofn = reinterpret_cast<OvOpenFileName*>(lParam);
        std::error_code ec;
        std::string cwd = fs::current_path(ec).string();
        {
            Guard g;
            if (Window* w = findWindow(dlg)) {
                w->openFile.ofn = ofn;
                w->openFile.dir = cwd;
            }
        }
        std::string start = (ofn->initialDir && *ofn->initialDir) ? ofn->initialDir : cwd;
        if (!openFileBrowseTo(dlg, start)) openFileBrowseTo(dlg, cwd);
        if (ofn->file && ofn->file[0]) ovSetDlgItemText(dlg, kFileName, ofn->file);
        std::string filter = ofn->filterDescription ? ofn->filterDescription : "";
        if (ofn->filterPattern) filter += std::string(" (") + ofn->filterPattern + ")";
        ovSetDlgItemText(dlg, kFilterText, filter.c_str());
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == IDCANCEL) {
        ovEndDialog(dlg, FALSE);
    } else if (id == IDOK) {
        char name[4096];
        ovGetDlgItemText(dlg, kFileName, name, sizeof name);
        choose(dlg, name);
    } else if (id == kEntries && (code == LBN_SELCHANGE || code == LBN_DBLCLK)) {
        OpenFileState::Entry entry;
        {
            Guard g;
            Window* w = findWindow(dlg);
            int sel = ovListGetCurSel(dlg, kEntries);
            if (!w || sel < 0 || sel >= int(w->openFile.entries.size())) return TRUE;
            entry = w->openFile.entries[size_t(sel)];
        }
        if (code == LBN_SELCHANGE && !entry.isDir)
            ovSetDlgItemText(dlg, kFileName, entry.name.c_str());
        if (code == LBN_DBLCLK) {
            if (entry.isDir)
                openFileBrowseTo(dlg, entry.name);
            else
                choose(dlg, entry.name);
        }
    }
    return TRUE;
}

// ---- Editor ----

// Text files here end their lines in CR LF; a browser's text area hands back LF alone.
std::string withCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Writes beside the file and renames over it, so that a reader meets the old or the new text,
// never a half-written or empty one. A link is followed: the file it names is replaced.
bool replaceFileText(const std::string& file, const std::string& text) {
    std::error_code ec;
    fs::path target = fs::canonical(file, ec);
    if (ec) target = file;
    mode_t mode = 0644;
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    std::string temp = target.string() + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += size_t(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir); // the text is in place either way
        ::close(dir);
    }
    return true;
}

// Writes the editor's text to its file; false (with the error shown) when it could not.
bool saveEditor(HWND dlg) {
    std::string file, text;
    {
        Guard g;
        Window* w = findWindow(dlg);
        Control* c = findItem(dlg, kEditorText);
        if (!w || !c) return false;
        file = w->editor.file;
        text = withCrLf(c->text);
    }
    bool ok = replaceFileText(file, text);
    Guard g;
    if (Window* w = findWindow(dlg)) {
        if (ok) {
            w->editor.saved = text;
            if (Control* c = findItem(dlg, kEditorText); c && withCrLf(c->text) == text)
                c->text = text; // shown as saved
        }
        w->editor.error = ok ? "" : "Cannot save " + file + ".";
        touch();
    }
    return ok;
}

// Unsaved text is asked about before the window goes: Yes saves (a failed save keeps the
// window), No throws the text away, Cancel keeps editing.
void closeEditor(HWND dlg) {
    std::string name;
    bool dirty = false;
    {
        Guard g;
        Window* w = findWindow(dlg);
        Control* c = findItem(dlg, kEditorText);
        if (!w || !c) return;
        dirty = withCrLf(c->text) != withCrLf(w->editor.saved);
        name = fs::path(w->editor.file).filename().string();
    }
    if (dirty) {
        std::string question = "Save the changes to " + name + "?";
        int answer =
            ovMessageBox(dlg, question.c_str(), "Notepad", MB_YESNOCANCEL | MB_ICONWARNING);
        if (answer != IDYES && answer != IDNO) return;
        if (answer == IDYES && !saveEditor(dlg)) return;
    }
    ovDestroyWindow(dlg);
}

INT_PTR editorProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) return TRUE;
    if (msg != WM_COMMAND) return FALSE;
    int id = LOWORD(wParam);
    if (id == IDCANCEL)
        closeEditor(dlg);
    else if (id == kEditorSave)
        (void)saveEditor(dlg);
    return TRUE;
}

} // namespace

extern "C" {

OVUI_API int ovMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    std::string body = text ? text : "";
    int longest = 0, lines = 1, current = 0;
    for (char ch : body) {
        if (ch == '\n') {
            ++lines;
            current = 0;
        } else if (++current > 60) {
            ++lines; // wrapped
            current = 0;
        }
        longest = std::max(longest, current);
    }
    if (lines > 1) longest = 60;
    const UINT icon = type & 0xF0;
    const short textX = icon ? 40 : 10;
    const short cx = short(std::clamp(textX + longest * 4 + 10, 140, 320));
    const short textCy = short(lines * 9);
    const short buttonY = short(std::max(textCy + 16, 36));
    std::vector<OvControlTemplate> controls;
    if (icon) controls.push_back({OV_NOID, OV_ICON, nullptr, 10, 10, 20, 20, 0, int(icon)});
    controls.push_back(
        {kMessageText, OV_STATIC, body.c_str(), textX, 10, short(cx - textX - 10), textCy, 0, 0});
    std::vector<std::pair<int, const char*>> buttons;
    switch (type & 0x0F) {
    case MB_OKCANCEL:
        buttons = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
        break;
    case MB_YESNO:
        buttons = {{IDYES, "&Yes"}, {IDNO, "&No"}};
        break;
    case MB_YESNOCANCEL:
        buttons = {{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}};
        break;
    default:
        buttons = {{IDOK, "OK"}};
        break;
    }
    short x = short(cx - int(buttons.size()) * 55);
    for (size_t i = 0; i < buttons.size(); ++i, x = short(x + 55))
        controls.push_back({buttons[i].first, i == 0 ? OV_DEFBUTTON : OV_BUTTON, buttons[i].second,
                            x, buttonY, 50, 14, OV_TABSTOP, 0});
    // A yes/no question has no close box: it must be answered.
    DWORD style = OV_DS_CAPTION | OV_DS_CENTER | OV_DS_MODALFRAME |
                  ((type & 0x0F) == MB_YESNO ? 0u : OV_DS_SYSMENU);
    OvDialogTemplate tpl{OVUI_TEMPLATE_MESSAGEBOX,
                         caption ? caption : "Error",
                         cx,
                         short(buttonY + 22),
                         style,
                         nullptr,
                         0,
                         controls.data(),
                         int(controls.size())};
    INT_PTR r =
        modalFromTemplate(&tpl, owner, messageBoxProc, LPARAM(type), WindowKind::MessageBox);
    return r < 0 ? 0 : int(r);
}

OVUI_API BOOL ovGetOpenFileName(OvOpenFileName* ofn) {
    if (!ofn || !ofn->file || ofn->fileSize == 0) return FALSE;
    static const OvControlTemplate controls[] = {
        {kDirText, OV_STATIC, "", 7, 7, 266, 9, 0, 0},
        {kEntries, OV_LISTBOX, nullptr, 7, 20, 266, 100, OV_NOTIFY | OV_TABSTOP, 0},
        {OV_NOID, OV_STATIC, "File &name:", 7, 126, 40, 9, 0, 0},
        {kFileName, OV_EDIT, "", 50, 124, 223, 12, OV_TABSTOP, 0},
        {kFilterText, OV_STATIC, "", 7, 142, 160, 9, 0, 0},
        {IDOK, OV_DEFBUTTON, "&Open", 170, 140, 50, 14, OV_TABSTOP, 0},
        {IDCANCEL, OV_BUTTON, "Cancel", 223, 140, 50, 14, OV_TABSTOP, 0},
    };
    OvDialogTemplate tpl{OVUI_TEMPLATE_OPENFILE,
                         ofn->title ? ofn->title : "Open",
                         280,
                         160,
                         OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_CENTER | OV_DS_MODALFRAME,
                         nullptr,
                         0,
                         controls,
                         int(sizeof controls / sizeof controls[0])};
    INT_PTR r = modalFromTemplate(&tpl, ofn->owner, openFileProc, reinterpret_cast<LPARAM>(ofn),
                                  WindowKind::OpenFile);
    return r > 0 ? TRUE : FALSE;
}

OVUI_API BOOL ovStartProcess(const char* commandLine, const char* workingDirectory) {
    if (!commandLine) return FALSE;
    std::string cmd = commandLine;
    size_t start = cmd.find_first_not_of(' ');
    if (start == std::string::npos) return FALSE;
    size_t end = cmd.find(' ', start);
    std::string program = cmd.substr(start, end == std::string::npos ? end : end - start);
    std::transform(program.begin(), program.end(), program.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (program != "notepad" && program != "notepad.exe") return FALSE;
    if (end == std::string::npos) return FALSE;
    std::string file = cmd.substr(end);
    file.erase(0, file.find_first_not_of(' '));
    while (!file.empty() && file.back() == ' ')
        file.pop_back();
    if (file.size() >= 2 && file.front() == '"' && file.back() == '"')
        file = file.substr(1, file.size() - 2);
    if (file.empty()) return FALSE;
    std::error_code ec;
    fs::path base =
        (workingDirectory && *workingDirectory) ? fs::path(workingDirectory) : fs::current_path(ec);
    fs::path path = (file[0] == '/' ? fs::path(file) : base / file).lexically_normal();
    std::ifstream in(path, std::ios::binary);
    if (!in || fs::is_directory(path, ec)) return FALSE;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return FALSE;
    static const OvControlTemplate controls[] = {
        {kEditorText, OV_EDIT, "", 4, 4, 312, 180, OV_MULTILINE | OV_TABSTOP, 0},
        {kEditorSave, OV_BUTTON, "&Save", 212, 190, 50, 14, OV_TABSTOP, 0},
        {IDCANCEL, OV_BUTTON, "&Close", 266, 190, 50, 14, OV_TABSTOP, 0},
    };
    std::string title = path.filename().string() + " - Notepad";
    OvDialogTemplate tpl{OVUI_TEMPLATE_EDITOR,
                         title.c_str(),
                         320,
                         210,
                         OV_DS_CAPTION | OV_DS_SYSMENU | OV_DS_MINIMIZEBOX,
                         nullptr,
                         0,
                         controls,
                         3};
    HWND wnd = createWindow(&tpl, nullptr, editorProc, 0, WindowKind::Editor, false);
    if (!wnd) return FALSE;
    {
        Guard g;
        Window* w = findWindow(wnd);
        Control* c = findItem(wnd, kEditorText);
        if (!w || !c) return FALSE;
        w->editor.file = path.string();
        w->editor.saved = content.str();
        c->text = content.str();
        touch();
    }
    startModeless(wnd, 0);
    return TRUE;
}

OVUI_API BOOL ovShellNotifyIcon(DWORD action, const OvNotifyIconData* data) {
    if (!data) return FALSE;
    Guard g;
    Tray& tray = state().tray;
    auto apply = [&] {
        if (data->flags & NIF_MESSAGE) tray.callbackMessage = data->callbackMessage;
        if (data->flags & NIF_ICON) tray.level = std::clamp(data->iconLevel, 0, 5);
        if (data->flags & NIF_TIP) tray.tip.assign(data->tip, strnlen(data->tip, 63));
    };
    bool same = tray.present && tray.window == fromHwnd(data->hwnd) && tray.id == data->id;
    switch (action) {
    case NIM_ADD:
        // Adding again (after "TaskbarCreated") replaces the icon.
        if (tray.present && !same) return FALSE;
        if (!findWindow(data->hwnd)) return FALSE;
        if (!same) tray = Tray{};
        tray.present = true;
        tray.window = fromHwnd(data->hwnd);
        tray.id = data->id;
        apply();
        break;
    case NIM_MODIFY:
        if (!same) return FALSE;
        apply();
        break;
    case NIM_DELETE:
        if (!same) return FALSE;
        tray = Tray{};
        break;
    default:
        return FALSE;
    }
    touch();
    return TRUE;
}

} // extern "C"

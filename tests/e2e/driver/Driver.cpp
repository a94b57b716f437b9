// Drives the program's windows from outside for the end-to-end tests, as a user's mouse and keys
// would: run in the program's Wine prefix, it reads one command a line on standard input (fields
// split by tabs) and answers each with one line, "ok VALUE" or "error WHY". Only windows of the
// Vellix.exe process are seen: other processes' windows may share the display. Every wait has a
// bound in seconds.
//   top CLASS CAPTION SECONDS      a visible top-level window ("" matches any class or caption)
//   notop CLASS CAPTION SECONDS    ok once no such window is visible
//   child HWND ID|CLASS SECONDS [hidden|seen]   a descendant shown by its own style, or any
//                                  ("hidden"), or one on the screen with its parents ("seen")
//   gone HWND SECONDS              ok once the window is destroyed or hidden
//   tops                           every visible top-level window: HWND CLASS CAPTION, tab separated
//   text HWND | settext HWND TEXT | visible HWND | enabled HWND | shown HWND | rect HWND
//                                  (shown: the window's own WS_VISIBLE, whatever its parents)
//   click HWND                     the button's click as its parent sees it (posted)
//   command HWND ID                a posted WM_COMMAND of ID (a dialog's button by its id)
//   key HWND VK                    a key pressed and released (posted)
//   close HWND                     a posted WM_CLOSE
//   post HWND MSG WPARAM LPARAM | send HWND MSG WPARAM LPARAM (numbers only, the answer is the result)
//   count HWND | item HWND INDEX [SUBITEM] | ticked HWND INDEX | tick HWND INDEX 0|1   (list views)
//   shot HWND PATH                 the window's pixels on the screen, a 24-bit BMP file
//   locate HWND SELECTOR           "X Y": where in the HTML page (an engine window) the first
//                                  element matching SELECTOR is, scrolled into view
//   clickin HWND SELECTOR          a mouse click there
//   page HWND SELECTOR SECONDS     the descendant HTML page on the screen that holds such an element
// Texts are UTF-8; in texts "\t", "\n" and "\\" stand for a tab, a new line and a backslash.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "RemoteList.h"

namespace {

const wchar_t kImage[] = L"vellix.exe";

std::wstring Wide(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c != '\r')
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c;
    }
    return out;
}

std::string Handle(HWND window) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return text;
}

HWND ToHandle(const std::string& text) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(text.c_str(), nullptr, 10)));
}

// Processes come and go between commands (the program restarted): asked again on every look.
std::set<DWORD> ProgramProcesses() {
    std::set<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry)) {
        if (_wcsicmp(entry.szExeFile, kImage) == 0)
            ids.insert(entry.th32ProcessID);
    }
    CloseHandle(snap);
    return ids;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 10000, &length))
        return std::wstring();
    std::vector<wchar_t> text(length + 2, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        10000, &got);
    return text.data();
}

struct TopSearch {
    std::set<DWORD> processes;
    std::wstring cls, caption;
    std::vector<HWND> found;
};

BOOL CALLBACK MatchTop(HWND window, LPARAM param) {
    TopSearch* s = reinterpret_cast<TopSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!s->processes.count(pid) || !IsWindowVisible(window))
        return TRUE;
    if ((s->cls.empty() || ClassOf(window) == s->cls) && (s->caption.empty() || TextOf(window) == s->caption))
        s->found.push_back(window);
    return TRUE;
}

std::vector<HWND> Tops(const std::wstring& cls, const std::wstring& caption) {
    TopSearch s;
    s.processes = ProgramProcesses();
    s.cls = cls;
    s.caption = caption;
    EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

enum class Showing { Own, Any, Seen };

struct ChildSearch {
    int id;
    std::wstring cls;
    Showing showing;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
    ChildSearch* s = reinterpret_cast<ChildSearch*>(param);
    bool kind = s->cls.empty() ? GetDlgCtrlID(child) == s->id : ClassOf(child) == s->cls;
    // The control's own style: a view behind another tab is still "shown" by its own lights.
    bool shown = (GetWindowLongPtrW(child, GWL_STYLE) & WS_VISIBLE) != 0;
    bool wanted = s->showing == Showing::Any || (s->showing == Showing::Seen ? IsWindowVisible(child) != FALSE : shown);
    if (kind && wanted) {
        s->found = child;
        return FALSE;
    }
    return TRUE;
}

HWND Child(HWND root, const std::string& what, Showing showing) {
    ChildSearch s = {0, std::wstring(), showing, nullptr};
    char* end = nullptr;
    long id = std::strtol(what.c_str(), &end, 10);
    if (!what.empty() && *end == '\0')
        s.id = static_cast<int>(id);
    else
        s.cls = Wide(what);
    EnumChildWindows(root, MatchChild, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

template <class Check>
bool Within(const std::string& seconds, Check check) {
    ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(std::strtod(seconds.c_str(), nullptr) * 1000);
    for (;;) {
        if (check())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
}

// The screen under the window: without a window manager nothing covers a window that is on top.
bool Shot(HWND window, const std::wstring& path, std::string& why) {
    RECT r;
    if (!GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top) {
        why = "no window rectangle";
        return false;
    }
    int w = r.right - r.left, h = r.bottom - r.top;
    // A page just switched may not have painted yet: painted now, then given a moment to settle.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(mem, bitmap);
        ok = BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != 0;
        SelectObject(mem, old);
        GdiFlush();
    }
    DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    DWORD size = stride * static_cast<DWORD>(h);
    if (ok) {
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + size;
        FILE* out = _wfopen(path.c_str(), L"wb");
        ok = out && std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 && std::fwrite(bits, size, 1, out) == 1;
        if (out && std::fclose(out) != 0)
            ok = false;
        if (!ok)
            why = "cannot write the picture";
    } else {
        why = "no copy of the screen";
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

// Where the engine's page w has the first element matching selector (x in the low word), or 0:
// the engine answers -1 for none, other windows 0. The selector goes over in a global atom, so no
// memory of ours crosses to the program.
DWORD_PTR Locate(HWND w, const std::string& selector) {
    static const UINT locate = RegisterWindowMessageW(L"HTMLayoutLocateElement");
    ATOM atom = GlobalAddAtomA(selector.c_str());
    DWORD_PTR point = 0;
    bool answered = atom && SendMessageTimeoutW(w, locate, atom, 0, SMTO_ABORTIFHUNG, 10000, &point);
    if (atom)
        GlobalDeleteAtom(atom);
    return answered && static_cast<LONG_PTR>(point) != -1 ? point : 0;
}

BOOL CALLBACK CollectSeen(HWND child, LPARAM param) {
    if (IsWindowVisible(child))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    return TRUE;
}

HWND PageWith(HWND root, const std::string& selector) {
    std::vector<HWND> seen;
    EnumChildWindows(root, CollectSeen, reinterpret_cast<LPARAM>(&seen));
    for (HWND w : seen)
        if (Locate(w, selector))
            return w;
    return nullptr;
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(Unescape(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start)));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

long long Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 0); }

// One command; true with its value, or false with why.
bool Run(const std::vector<std::string>& f, std::string& out) {
    const std::string& cmd = f[0];
    size_t n = f.size();
    auto need = [&](size_t fields) {
        if (n >= fields)
            return true;
        out = "too few fields for " + cmd;
        return false;
    };
    if (cmd == "tops") {
        for (HWND w : Tops(L"", L""))
            out += (out.empty() ? "" : "\t") + Handle(w) + "\t" + Escape(Utf8(ClassOf(w))) + "\t" +
                   Escape(Utf8(TextOf(w)));
        return true;
    }
    if (cmd == "top" || cmd == "notop") {
        if (!need(4))
            return false;
        std::wstring cls = Wide(f[1]), caption = Wide(f[2]);
        HWND found = nullptr;
        bool want = cmd == "top";
        bool ok = Within(f[3], [&] {
            std::vector<HWND> tops = Tops(cls, caption);
            found = tops.empty() ? nullptr : tops[0];
            return (found != nullptr) == want;
        });
        out = ok ? (want ? Handle(found) : "") : "timed out waiting for " + f[1] + " " + f[2];
        return ok;
    }
    if (!need(2))
        return false;
    HWND w = ToHandle(f[1]);
    if (cmd == "child") {
        if (!need(4))
            return false;
        HWND found = nullptr;
        Showing showing = n < 5 ? Showing::Own : f[4] == "hidden" ? Showing::Any : Showing::Seen;
        if (Within(f[3], [&] { return (found = Child(w, f[2], showing)) != nullptr || !IsWindow(w); }) && found) {
            out = Handle(found);
            return true;
        }
        out = "no control " + f[2];
        return false;
    }
    if (cmd == "gone") {
        if (!need(3))
            return false;
        if (Within(f[2], [&] { return !IsWindow(w) || !IsWindowVisible(w); }))
            return true;
        out = "the window is still there";
        return false;
    }
    if (!IsWindow(w)) {
        out = "no window " + f[1];
        return false;
    }
    if (cmd == "text") {
        out = Escape(Utf8(TextOf(w)));
        return true;
    }
    if (cmd == "visible" || cmd == "enabled" || cmd == "shown") {
        bool yes = cmd == "visible" ? IsWindowVisible(w)
                   : cmd == "enabled" ? IsWindowEnabled(w)
                                      : (GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE) != 0;
        out = yes ? "1" : "0";
        return true;
    }
    if (cmd == "rect") {
        RECT r = {};
        GetWindowRect(w, &r);
        char text[80];
        std::snprintf(text, sizeof text, "%ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
        out = text;
        return true;
    }
    if (cmd == "settext") {
        if (!need(3))
            return false;
        std::wstring text = Wide(f[2]);
        DWORD_PTR done = 0;
        if (SendMessageTimeoutW(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 10000,
                                &done) && done)
            return true;
        out = "the text was not taken";
        return false;
    }
    // Clicks and keys are posted: a click that opens a modal dialog returns only when it closes.
    if (cmd == "click") {
        if (PostMessageW(GetParent(w), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(w), BN_CLICKED), reinterpret_cast<LPARAM>(w)))
            return true;
        out = "cannot post the click";
        return false;
    }
    if (cmd == "command" || cmd == "key" || cmd == "close" || cmd == "post") {
        BOOL ok = FALSE;
        if (cmd == "close") {
            ok = PostMessageW(w, WM_CLOSE, 0, 0);
        } else if (!need(cmd == "post" ? 5 : 3)) {
            return false;
        } else if (cmd == "command") {
            ok = PostMessageW(w, WM_COMMAND, MAKEWPARAM(Number(f[2]), BN_CLICKED), 0);
        } else if (cmd == "key") {
            WPARAM vk = static_cast<WPARAM>(Number(f[2]));
            UINT scan = MapVirtualKeyW(static_cast<UINT>(vk), MAPVK_VK_TO_VSC);
            ok = PostMessageW(w, WM_KEYDOWN, vk, 1 | (scan << 16)) &&
                 PostMessageW(w, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
        } else {
            ok = PostMessageW(w, static_cast<UINT>(Number(f[2])), static_cast<WPARAM>(Number(f[3])),
                              static_cast<LPARAM>(Number(f[4])));
        }
        if (!ok)
            out = "cannot post";
        return ok != FALSE;
    }
    if (cmd == "send") {
        if (!need(5))
            return false;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(w, static_cast<UINT>(Number(f[2])), static_cast<WPARAM>(Number(f[3])),
                                 static_cast<LPARAM>(Number(f[4])), SMTO_ABORTIFHUNG, 10000, &result)) {
            out = "no answer";
            return false;
        }
        out = std::to_string(static_cast<long long>(static_cast<LONG_PTR>(result)));
        return true;
    }
    if (cmd == "count") {
        DWORD_PTR count = 0;
        SendMessageTimeoutW(w, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 10000, &count);
        out = std::to_string(static_cast<long long>(count));
        return true;
    }
    if (cmd == "item" || cmd == "ticked" || cmd == "tick") {
        if (!need(cmd == "tick" ? 4 : 3))
            return false;
        int item = static_cast<int>(Number(f[2]));
        if (cmd == "ticked") {
            out = Ticked(w, item) ? "1" : "0";
            return true;
        }
        RemoteList remote(w);
        if (!remote.Valid()) {
            out = "no memory in the program's process, error " + std::to_string(GetLastError());
            return false;
        }
        if (cmd == "item") {
            std::wstring text;
            if (!remote.Text(item, n > 3 ? static_cast<int>(Number(f[3])) : 0, text)) {
                out = "no item " + f[2];
                return false;
            }
            out = Escape(Utf8(text));
            return true;
        }
        bool want = f[3] == "1";
        if (remote.SetTicked(item, want) && Ticked(w, item) == want)
            return true;
        out = "item " + f[2] + " does not take its tick";
        return false;
    }
    if (cmd == "page") {
        if (!need(4))
            return false;
        HWND found = nullptr;
        if (Within(f[3], [&] { return (found = PageWith(w, f[2])) != nullptr; })) {
            out = Handle(found);
            return true;
        }
        out = "no page on the screen holds " + f[2];
        return false;
    }
    if (cmd == "locate" || cmd == "clickin") {
        if (!need(3))
            return false;
        DWORD_PTR point = Locate(w, f[2]);
        if (!point) {
            out = "no element " + f[2];
            return false;
        }
        int x = LOWORD(point), y = HIWORD(point);
        if (cmd == "locate") {
            out = std::to_string(x) + " " + std::to_string(y);
            return true;
        }
        LPARAM at = MAKELPARAM(x, y);
        if (PostMessageW(w, WM_MOUSEMOVE, 0, at) && PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at) &&
            PostMessageW(w, WM_LBUTTONUP, 0, at))
            return true;
        out = "cannot post the click";
        return false;
    }
    if (cmd == "shot") {
        if (!need(3))
            return false;
        return Shot(w, Wide(f[2]), out);
    }
    out = "unknown command " + cmd;
    return false;
}

}  // namespace

int wmain() {
    char buffer[65536];
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (line.empty())
            continue;
        if (line == "quit")
            break;
        std::string value;
        bool ok = Run(Split(line), value);
        std::printf("%s%s%s\n", ok ? "ok" : "error", value.empty() ? "" : " ", value.c_str());
        std::fflush(stdout);
    }
    return 0;
}

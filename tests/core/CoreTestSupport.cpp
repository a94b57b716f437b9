// Test fixtures shared by the application-core tests.
#include "CoreTestSupport.h"

#include <AppPath.h>


std::atomic<int> CountedMsg::live{0};

namespace {

// Read-only files and folders (tests make them to force failures) go too.
void RemoveTree(const std::wstring& folder) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\')
        base.push_back(L'\\');
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((base + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = base + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    base.pop_back();
    SetFileAttributesW(base.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(base.c_str());
}

LRESULT CALLBACK ObserverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TestObserver*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self) {
        LRESULT result = 0;
        if (self->OnMessage(window, message, wParam, lParam, result))
            return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t* ObserverClass() {
    static const wchar_t* name = [] {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ObserverProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VxTestObserver";
        RegisterClassW(&wc);
        return L"VxTestObserver";
    }();
    return name;
}

}  // namespace

ScopedAppFolder::ScopedAppFolder() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    // Wine reuses process ids at once, and a folder that an earlier process could not remove
    // must not hand its files to this test: a name is taken only when it is made afresh.
    for (int attempt = 0;; ++attempt) {
        path_ = std::wstring(temp) + L"vxcore-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter++) + L"\\";
        RemoveTree(path_);
        if (CreateDirectoryW(path_.c_str(), nullptr) || attempt == 100)
            break;
    }
    SetAppPathForTesting(path_);
}

ScopedAppFolder::~ScopedAppFolder() {
    SetAppPathForTesting(std::wstring());
    RemoveTree(path_);
}

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        PumpPending();
    }
    return true;
}

TestObserver::TestObserver() {
    window = CreateWindowExW(0, ObserverClass(), L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TestObserver::~TestObserver() {
    Destroy();
}

void TestObserver::Register(const std::vector<std::string>& names) {
    id = GetAppContext()->Messages().RegisterObserver(window, this);
    for (const std::string& name : names)
        Subscribe(name);
}

void TestObserver::Subscribe(const std::string& name) {
    GetAppContext()->Messages().Subscribe(id, name, MsgThunk<&TestObserver::OnCounted>);
}

void TestObserver::Destroy() {
    if (window) {
        DestroyWindow(window);
        window = nullptr;
    }
}

void TestObserver::OnCounted(CountedMsg* msg) {
    {
        std::lock_guard<std::mutex> guard(lock);
        values.push_back(msg->value);
        threads.push_back(GetCurrentThreadId());
    }
    if (onMessage)
        onMessage(msg);
    ++received;
}

DialogAnswerer::DialogAnswerer(int button) : button_(button), thread_([this] { Watch(); }) {}

DialogAnswerer::~DialogAnswerer() {
    stop_ = true;
    thread_.join();
}

std::wstring DialogAnswerer::Caption() {
    std::lock_guard<std::mutex> guard(lock_);
    return caption_;
}

std::wstring DialogAnswerer::Text() {
    std::lock_guard<std::mutex> guard(lock_);
    return text_;
}

namespace {

struct FindDialog {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindProcessDialog(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<FindDialog*>(param);
    wchar_t cls[16] = L"";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    GetClassNameW(window, cls, 16);
    if (process == find->process && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    wchar_t cls[16] = L"";
    GetClassNameW(child, cls, 16);
    if (_wcsicmp(cls, L"Static") == 0) {
        wchar_t text[1024] = L"";
        GetWindowTextW(child, text, 1024);
        *reinterpret_cast<std::wstring*>(param) += text;
    }
    return TRUE;
}

}  // namespace

void DialogAnswerer::Watch() {
    while (!stop_) {
        FindDialog find = {GetCurrentProcessId(), nullptr};
        EnumWindows(FindProcessDialog, reinterpret_cast<LPARAM>(&find));
        if (find.found) {
            wchar_t caption[256] = L"";
            GetWindowTextW(find.found, caption, 256);
            std::wstring text;
            EnumChildWindows(find.found, CollectStaticText, reinterpret_cast<LPARAM>(&text));
            {
                std::lock_guard<std::mutex> guard(lock_);
                caption_ = caption;
                text_ = text;
            }
            HWND button = GetDlgItem(find.found, button_);
            PostMessageW(find.found, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            return;
        }
        Sleep(20);
    }
}

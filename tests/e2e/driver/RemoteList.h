// The program's list views seen from another process (the e2e driver, bench/road's road_steps).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

// List-view items live in the program's process: the item structure and its text buffer are
// written and read there.
class RemoteList {
public:
    explicit RemoteList(HWND list) : list_(list) {
        DWORD pid = 0;
        GetWindowThreadProcessId(list, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_)
            memory_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteList() {
        if (memory_)
            VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
        if (process_)
            CloseHandle(process_);
    }
    RemoteList(const RemoteList&) = delete;
    RemoteList& operator=(const RemoteList&) = delete;

    bool Valid() const { return memory_ != nullptr; }

    bool Text(int item, int subItem, std::wstring& out) {
        LVITEMW lv = {};
        lv.iSubItem = subItem;
        lv.pszText = reinterpret_cast<wchar_t*>(memory_ + sizeof lv);
        lv.cchTextMax = kChars;
        wchar_t text[kChars + 1] = {};
        DWORD_PTR got = 0;
        if (!Put(lv) || !SendMessageTimeoutW(list_, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(memory_),
                                             SMTO_ABORTIFHUNG, 10000, &got) ||
            !ReadProcessMemory(process_, memory_ + sizeof lv, text, kChars * sizeof(wchar_t), nullptr))
            return false;
        out = text;
        return true;
    }
    // The selection goes too: a selected row whose tick changes is ticked again by the view with
    // the rest of the selection, as a user's click on one box would not.
    bool SetTicked(int item, bool ticked) {
        LVITEMW lv = {};
        lv.stateMask = LVIS_STATEIMAGEMASK | LVIS_SELECTED;
        lv.state = INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1);
        DWORD_PTR done = 0;
        return Put(lv) && SendMessageTimeoutW(list_, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(memory_),
                                              SMTO_ABORTIFHUNG, 10000, &done) && done;
    }

private:
    static const int kChars = 1024;
    static const SIZE_T kSize = sizeof(LVITEMW) + (kChars + 1) * sizeof(wchar_t);
    bool Put(const LVITEMW& lv) { return WriteProcessMemory(process_, memory_, &lv, sizeof lv, nullptr) != 0; }

    HWND list_;
    HANDLE process_ = nullptr;
    char* memory_ = nullptr;
};

inline bool Ticked(HWND list, int item) {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(list, LVM_GETITEMSTATE, item, LVIS_STATEIMAGEMASK, SMTO_ABORTIFHUNG, 10000, &state);
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

// Thunk code memory and the per-thread creation slot.
#include "wtl/Thunk.h"

#include <cstring>
#include <new>

namespace WTL {

namespace {

#pragma pack(push, 1)
#if defined(__x86_64__) || defined(_M_X64)
struct ThunkCode {
  BYTE movRcx[2];  // mov rcx, imm64: replace the window handle argument
  ULONG_PTR self;
  BYTE movRax[2];  // mov rax, imm64; jmp rax
  ULONG_PTR proc;
  BYTE jmpRax[2];

  void Set(void* procAddr, void* selfAddr) {
    movRcx[0] = 0x48;
    movRcx[1] = 0xB9;
    self = reinterpret_cast<ULONG_PTR>(selfAddr);
    movRax[0] = 0x48;
    movRax[1] = 0xB8;
    proc = reinterpret_cast<ULONG_PTR>(procAddr);
    jmpRax[0] = 0xFF;
    jmpRax[1] = 0xE0;
  }
};
#elif defined(__i386__) || defined(_M_IX86)
struct ThunkCode {
  BYTE movOp[4];  // mov dword ptr [esp+4], imm32: replace the window handle argument
  DWORD self;
  BYTE jmpOp;     // jmp rel32
  DWORD rel;

  void Set(void* procAddr, void* selfAddr) {
    static const BYTE mov[4] = {0xC7, 0x44, 0x24, 0x04};
    std::memcpy(movOp, mov, sizeof(mov));
    self = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(selfAddr));
    jmpOp = 0xE9;
    // rel32 counts from the end of the instruction, which is the end of this block in place.
    rel = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(procAddr) -
                             (reinterpret_cast<DWORD_PTR>(this) + sizeof(ThunkCode)));
  }
};
#else
#error "the window thunks are written for x86 and x86-64"
#endif
#pragma pack(pop)

// One executable heap for the process, never destroyed: windows may outlive any owner of it.
HANDLE CodeHeap() {
  static HANDLE heap = ::HeapCreate(HEAP_CREATE_ENABLE_EXECUTE, 0, 0);
  return heap;
}

void WriteCode(void* code, void* proc, void* self) {
  auto* c = static_cast<ThunkCode*>(code);
  // Built in place: the x86 jump is relative to where the code lies.
  c->Set(proc, self);
  ::FlushInstructionCache(::GetCurrentProcess(), code, sizeof(ThunkCode));
}

// A window whose object is gone but which someone else subclassed after us: their saved procedure
// is our thunk, so the thunk lives on, forwarding to the procedure we had replaced.
struct OrphanThunk {
  void* code;
  HWND hwnd;
  WNDPROC previous;
};

LRESULT CALLBACK OrphanWindowProc(HWND selfArg, UINT msg, WPARAM wp, LPARAM lp) {
  auto* orphan = reinterpret_cast<OrphanThunk*>(selfArg);
  HWND hwnd = orphan->hwnd;
  WNDPROC previous = orphan->previous;
  if (msg == WM_NCDESTROY) {
    // The jump has already left the code, so it can go before the call.
    ::HeapFree(CodeHeap(), 0, orphan->code);
    delete orphan;
  }
  return ::CallWindowProcW(previous, hwnd, msg, wp, lp);
}

INT_PTR CALLBACK OrphanDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

thread_local void* creatingObject = nullptr;

}  // namespace

WndProcThunk::~WndProcThunk() {
  if (code_)
    ::HeapFree(CodeHeap(), 0, code_);
}

bool WndProcThunk::Init(void* proc, void* self) {
  HANDLE heap = CodeHeap();
  if (!heap)
    return false;
  if (!code_)
    code_ = ::HeapAlloc(heap, 0, sizeof(ThunkCode));
  if (!code_)
    return false;
  WriteCode(code_, proc, self);
  return true;
}

void WndProcThunk::ReleaseWindow(HWND hwnd, WNDPROC previous) {
  if (!code_ || !::IsWindow(hwnd))
    return;
  if (!previous)
    previous = ::DefWindowProcW;
  LONG_PTR now = ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  if (now == reinterpret_cast<LONG_PTR>(code_)) {
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    return;
  }
  auto* orphan = new (std::nothrow) OrphanThunk{code_, hwnd, previous};
  if (!orphan) {
    // Leaking the code is better than leaving it to jump into a freed object: aim it at a
    // procedure that needs no object.
    WriteCode(code_, reinterpret_cast<void*>(&::DefWindowProcW), hwnd);
    code_ = nullptr;
    return;
  }
  WriteCode(code_, reinterpret_cast<void*>(&OrphanWindowProc), orphan);
  code_ = nullptr;
}

void WndProcThunk::ReleaseDialog(HWND hwnd) {
  if (!code_ || !::IsWindow(hwnd))
    return;
  if (::GetWindowLongPtrW(hwnd, DWLP_DLGPROC) == reinterpret_cast<LONG_PTR>(code_)) {
    ::SetWindowLongPtrW(hwnd, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&OrphanDialogProc));
    return;
  }
  WriteCode(code_, reinterpret_cast<void*>(&OrphanDialogProc), nullptr);
  code_ = nullptr;
}

void SetCreatingObject(void* object) { creatingObject = object; }

void* TakeCreatingObject() {
  void* object = creatingObject;
  creatingObject = nullptr;
  return object;
}

}  // namespace WTL

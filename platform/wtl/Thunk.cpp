// Thunk code memory and the per-thread creation slot.
#include "wtl/Thunk.h"

#include <cstring>

#if !defined(__i386__) && !defined(_M_IX86)
#error "the window thunks are written for 32-bit x86"
#endif

namespace WTL {

namespace {

#pragma pack(push, 1)
struct ThunkCode {
  BYTE movOp[4];  // mov dword ptr [esp+4], imm32: replace the window handle argument
  DWORD self;
  BYTE jmpOp;     // jmp rel32
  DWORD rel;
};
#pragma pack(pop)

// One executable heap for the process, never destroyed: windows may outlive any owner of it.
HANDLE CodeHeap() {
  static HANDLE heap = ::HeapCreate(HEAP_CREATE_ENABLE_EXECUTE, 0, 0);
  return heap;
}

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
  ThunkCode c;
  static const BYTE mov[4] = {0xC7, 0x44, 0x24, 0x04};
  std::memcpy(c.movOp, mov, sizeof(mov));
  c.self = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(self));
  c.jmpOp = 0xE9;
  c.rel = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(proc) -
                             (reinterpret_cast<DWORD_PTR>(code_) + sizeof(ThunkCode)));
  std::memcpy(code_, &c, sizeof(c));
  ::FlushInstructionCache(::GetCurrentProcess(), code_, sizeof(ThunkCode));
  return true;
}

void SetCreatingObject(void* object) { creatingObject = object; }

void* TakeCreatingObject() {
  void* object = creatingObject;
  creatingObject = nullptr;
  return object;
}

}  // namespace WTL

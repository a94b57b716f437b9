#include "thrower.h"
#include <new>

void ThrowBadAlloc() { throw std::bad_alloc(); }

void AppendTo(std::string& text, const char* piece)
{
    // Large enough to reallocate on the DLL's side, freed later by the caller.
    text.append(piece);
    text.append(std::string(1000, '.'));
}

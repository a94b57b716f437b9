// The library's exports and entry point: a delivered or developer script block becomes a script
// object with its own Lua state.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "ARACrypt.h"
#include "ScriptImpl.h"
#include "common/Log.h"

namespace Vellix {

namespace {

char g_hostTableName[16];

// A script source over bytes in memory.
class CScriptBlock : public ScriptReader {
public:
    explicit CScriptBlock(const std::string& bytes) : bytes_(bytes) {}
    unsigned GetSize() override { return static_cast<unsigned>(bytes_.size()); }
    bool Read(void* buffer) override
    {
        if (bytes_.empty())
            return false;
        std::memcpy(buffer, bytes_.data(), bytes_.size());
        return true;
    }

private:
    const std::string& bytes_;
};

Script* LoadScriptBlock(const char* data, size_t size, bool enciphered, MemObject* error)
{
    if (size == 0 || !data)
        return nullptr;
    std::string block(data, size);
    if (enciphered) {
        ARACrypt crypt;
        TransformScriptBlock(crypt, block);
    }
    if (block.empty())
        return nullptr;

    CScriptBlock reader(block);
    std::string text(reader.GetSize(), '\0');
    if (!reader.Read(&text[0]))
        return nullptr;

    lua_State* L = luaL_newstate();
    if (!L)
        return nullptr;
    std::unique_ptr<VxScriptImpl> script(new VxScriptImpl(L));
    if (!script->Open() || !script->Run(text)) {
        if (error)
            script->GetLastError(error);
        return nullptr;
    }
    return script.release();
}

}  // namespace

const char* HostTableName()
{
    return g_hostTableName;
}

}  // namespace Vellix

using Vellix::Script;

extern "C" Script* __stdcall VxLoadScript(const char* data, size_t size)
{
    try {
        return Vellix::LoadScriptBlock(data, size, true, nullptr);
    } catch (const std::bad_alloc&) {
        Brimholt::Log << "VxLoadScript: out of memory" << std::endl;
        return nullptr;
    }
}

extern "C" Script* __stdcall VxDevLoadScript(Vellix::ScriptReader* source, Vellix::MemObject* error)
{
    if (!source)
        return nullptr;
    try {
        std::string text(source->GetSize(), '\0');
        if (text.empty() || !source->Read(&text[0]))
            return nullptr;
        return Vellix::LoadScriptBlock(text.data(), text.size(), false, error);
    } catch (const std::bad_alloc&) {
        Brimholt::Log << "VxDevLoadScript: out of memory" << std::endl;
        return nullptr;
    }
}

extern "C" bool __stdcall VxReleaseScript(Script** script)
{
    if (!script || !*script)
        return false;
    delete static_cast<Vellix::VxScriptImpl*>(*script);
    *script = nullptr;
    return true;
}

extern "C" void __stdcall VxFinalize()
{
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        std::snprintf(Vellix::g_hostTableName, sizeof Vellix::g_hostTableName, "__Vx%08lx",
                      static_cast<unsigned long>(GetTickCount()));
        SetLogTag("Vellix");
    }
    return TRUE;
}

#include "platform/platform_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace parvula::platform {

#ifdef _WIN32

TSharedLibrary::TSharedLibrary(const char* fileName)
    : m_handle(reinterpret_cast<void*>(::LoadLibraryA(fileName)))
{
}

void* TSharedLibrary::Symbol(const char* name) const
{
    return m_handle
        ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name))
        : nullptr;
}

#else

// RTLD_NOW finds a missing library of the library's own here rather than in the middle of a
// decode; RTLD_LOCAL keeps its names from resolving anybody else's.
TSharedLibrary::TSharedLibrary(const char* fileName)
    : m_handle(::dlopen(fileName, RTLD_NOW | RTLD_LOCAL))
{
}

void* TSharedLibrary::Symbol(const char* name) const
{
    return m_handle ? ::dlsym(m_handle, name) : nullptr;
}

#endif

} // namespace parvula::platform

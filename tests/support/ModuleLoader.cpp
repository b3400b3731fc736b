#include "support/ModuleLoader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace testsupport {

#if defined(_WIN32)

LoadedModule::LoadedModule(const std::string& path) : m_handle(::LoadLibraryA(path.c_str()))
{
    if (m_handle == nullptr) {
        m_error = "LoadLibrary failed, error " + std::to_string(::GetLastError());
    }
}

void* LoadedModule::Symbol(const char* name) const
{
    return m_handle ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(m_handle), name)) : nullptr;
}

bool LoadedModule::Close()
{
    const bool released = m_handle == nullptr || ::FreeLibrary(static_cast<HMODULE>(m_handle)) != 0;
    m_handle = nullptr;
    return released;
}

#else

LoadedModule::LoadedModule(const std::string& path) : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
{
    if (m_handle == nullptr) {
        m_error = dlerror();
    }
}

void* LoadedModule::Symbol(const char* name) const { return m_handle ? dlsym(m_handle, name) : nullptr; }

bool LoadedModule::Close()
{
    const bool released = m_handle == nullptr || dlclose(m_handle) == 0;
    m_handle = nullptr;
    return released;
}

#endif

LoadedModule::~LoadedModule() { Close(); }

} // namespace testsupport

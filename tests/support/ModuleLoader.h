#pragma once
// A module loaded by path the way the host loads the plug-in: LoadLibrary on Windows, dlopen
// (now, local) elsewhere.
#include <string>

namespace testsupport {

class LoadedModule {
public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool IsOpen() const { return m_handle != nullptr; }
    // Why the load failed, as the system says it.
    const std::string& Error() const { return m_error; }
    // An exported function by its undecorated name; nullptr when absent or not loaded.
    void* Symbol(const char* name) const;
    template <class F>
    F* Entry(const char* name) const { return reinterpret_cast<F*>(Symbol(name)); }
    // Lets go of the module; true when the system accepted (or nothing was loaded).
    bool Close();

private:
    void* m_handle = nullptr;
    std::string m_error;
};

} // namespace testsupport

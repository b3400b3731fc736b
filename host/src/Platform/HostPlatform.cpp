#include "Platform/HostPlatform.h"

#include <chrono>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace Marl { namespace Platform {

#if defined(_WIN32)

void SetCurrentThreadName(const std::string& name)
{
    // SetThreadDescription exists from Windows 10 1607 on; looked up so that older systems
    // still load the library.
    using SetDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto setDescription = reinterpret_cast<SetDescriptionFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (setDescription == nullptr) {
        return;
    }
    const std::wstring wide(name.begin(), name.end()); // thread names are ASCII
    setDescription(::GetCurrentThread(), wide.c_str());
}

bool LocalTime(time_t t, tm& local) { return localtime_s(&local, &t) == 0; }
bool UtcTime(time_t t, tm& utc) { return gmtime_s(&utc, &t) == 0; }

long UtcOffsetSeconds(time_t t, const tm& local)
{
    // The local broken-down time read as if it were UTC, minus the instant itself.
    tm copy = local;
    const time_t asUtc = _mkgmtime(&copy);
    return asUtc == static_cast<time_t>(-1) ? 0L : static_cast<long>(asUtc - t);
}

#else

void SetCurrentThreadName(const std::string& name)
{
    // Linux keeps 15 characters of a thread name.
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

bool LocalTime(time_t t, tm& local) { return localtime_r(&t, &local) != nullptr; }
bool UtcTime(time_t t, tm& utc) { return gmtime_r(&t, &utc) != nullptr; }

long UtcOffsetSeconds(time_t, const tm& local) { return static_cast<long>(local.tm_gmtoff); }

#endif

void WallClockNow(time_t& seconds, int& milliseconds)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch()).count();
    seconds = static_cast<time_t>(ms / 1000);
    milliseconds = static_cast<int>(ms % 1000);
}

}} // namespace Marl::Platform

#pragma once
// The plug-in's process-wide managers: created on first use from any thread, destroyed when
// the module is unloaded. The pointer is tested, the mutex taken, the pointer tested again.
#include <atomic>
#include <memory>
#include <mutex>

namespace iobox {

// Whether a singleton is left in memory when the module goes instead of destroyed. A type that
// may still be in use by threads nobody stopped (a host that never called Unit) says so by an
// overload in its own namespace; destroying it then would pull the memory from under them.
template <class T>
bool KeptAtUnload(const T&)
{
    return false;
}

template <class T>
class LazySingleton {
public:
    static T* Instance()
    {
        T* instance = s_instance.load(std::memory_order_acquire);
        if (instance == nullptr) {
            std::lock_guard<std::mutex> lock(s_mutex);
            instance = s_instance.load(std::memory_order_relaxed);
            if (instance == nullptr) {
                instance = Create();
                s_instance.store(instance, std::memory_order_release);
            }
        }
        return instance;
    }

private:
    // The owner is a local static so that its destruction is registered when the object has
    // been built, not when the module's statics were set up: singletons die in reverse order
    // of creation, and one that a manager creates in its constructor outlives that manager.
    static T* Create()
    {
        static std::unique_ptr<T, Release> owner(new T());
        return owner.get();
    }
    struct Release {
        void operator()(T* instance) const
        {
            if (KeptAtUnload(*instance)) {
                s_kept = instance; // still reachable: a leak checker at exit sees it in use
                return;
            }
            delete instance;
        }
    };

    static std::atomic<T*> s_instance;
    static std::mutex s_mutex;
    static T* s_kept;
};

template <class T>
std::atomic<T*> LazySingleton<T>::s_instance{nullptr};
template <class T>
std::mutex LazySingleton<T>::s_mutex;
template <class T>
T* LazySingleton<T>::s_kept = nullptr;

} // namespace iobox

#pragma once
// The plug-in's process-wide managers: created on first use from any thread, destroyed when
// the module is unloaded. The pointer is tested, the mutex taken, the pointer tested again.
#include <atomic>
#include <memory>
#include <mutex>

namespace iobox {

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
                s_owner.reset(new T());
                instance = s_owner.get();
                s_instance.store(instance, std::memory_order_release);
            }
        }
        return instance;
    }

private:
    static std::atomic<T*> s_instance;
    static std::mutex s_mutex;
    static std::unique_ptr<T> s_owner;
};

template <class T>
std::atomic<T*> LazySingleton<T>::s_instance{nullptr};
template <class T>
std::mutex LazySingleton<T>::s_mutex;
template <class T>
std::unique_ptr<T> LazySingleton<T>::s_owner;

} // namespace iobox

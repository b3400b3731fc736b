// ppltasks.h ships with Visual Studio (the Concurrency Runtime); <future> names it for std::async(launch::async): a task on a thread of its own.
#pragma once
#include <process.h>

extern "C" {
__declspec(dllimport) unsigned long __stdcall WaitForSingleObject(void* _Handle, unsigned long _Milliseconds);
__declspec(dllimport) int __stdcall CloseHandle(void* _Handle);
}

namespace Concurrency {

template <class _Ty>
class task;

// Runs its function once on a new thread; wait() joins it. The function catches its own exceptions
// (std::async's state stores them), so nothing escapes the thread.
template <>
class task<void> {
public:
    task() noexcept = default;
    task(const task&) = delete;
    task& operator=(const task&) = delete;
    task(task&& _Other) noexcept : _Thread(_Other._Thread) { _Other._Thread = nullptr; }
    task& operator=(task&& _Other) noexcept {
        if (this != &_Other) {
            _Join();
            _Thread = _Other._Thread;
            _Other._Thread = nullptr;
        }
        return *this;
    }
    ~task() { _Join(); }

    void wait() { _Join(); }

    template <class _Fn>
    static task _Start(_Fn _Func) {
        task _Result;
        auto* const _Heap = new _Fn(static_cast<_Fn&&>(_Func));
        const uintptr_t _Handle = _beginthreadex(nullptr, 0, &_Run<_Fn>, _Heap, 0, nullptr);
        if (_Handle == 0) {
            (*_Heap)(); // no thread to be had: run it here, as a deferred task would
            delete _Heap;
        }
        _Result._Thread = reinterpret_cast<void*>(_Handle);
        return _Result;
    }

private:
    template <class _Fn>
    static unsigned __stdcall _Run(void* _Arg) {
        auto* const _Func = static_cast<_Fn*>(_Arg);
        (*_Func)();
        delete _Func;
        return 0;
    }

    void _Join() {
        if (_Thread) {
            WaitForSingleObject(_Thread, 0xFFFFFFFFUL);
            CloseHandle(_Thread);
            _Thread = nullptr;
        }
    }

    void* _Thread = nullptr;
};

template <class _Fn>
task<void> create_task(_Fn _Func) {
    return task<void>::_Start(static_cast<_Fn&&>(_Func));
}

} // namespace Concurrency

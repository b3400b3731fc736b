// internal_shared.h is Visual Studio's internal header of its runtime sources; the STL sources compiled here need from it
// the CRT heap pointer, and from a newer Windows SDK than Wine 8's headers the declarations below.
#pragma once
#include <windows.h>

#include <stdlib.h>

template <class _Ty>
class __crt_unique_heap_ptr {
public:
    __crt_unique_heap_ptr() noexcept = default;
    explicit __crt_unique_heap_ptr(_Ty* const _Ptr) noexcept : _Ptr_(_Ptr) {}
    __crt_unique_heap_ptr(const __crt_unique_heap_ptr&) = delete;
    __crt_unique_heap_ptr& operator=(const __crt_unique_heap_ptr&) = delete;
    __crt_unique_heap_ptr(__crt_unique_heap_ptr&& _Other) noexcept : _Ptr_(_Other.detach()) {}
    __crt_unique_heap_ptr& operator=(__crt_unique_heap_ptr&& _Other) noexcept {
        attach(_Other.detach());
        return *this;
    }
    ~__crt_unique_heap_ptr() { free(_Ptr_); }
    _Ty* get() const noexcept { return _Ptr_; }
    _Ty* detach() noexcept {
        _Ty* const _Old = _Ptr_;
        _Ptr_ = nullptr;
        return _Old;
    }
    void attach(_Ty* const _Ptr) noexcept {
        free(_Ptr_);
        _Ptr_ = _Ptr;
    }
    explicit operator bool() const noexcept { return _Ptr_ != nullptr; }

private:
    _Ty* _Ptr_ = nullptr;
};
#define _malloc_crt_t(t, n) (__crt_unique_heap_ptr<t>(static_cast<t*>(malloc(sizeof(t) * (n)))))

extern "C" _ACRTIMP unsigned int __cdecl ___lc_codepage_func(void);

// Windows 10 SDK declarations that Wine 8's headers lack.
#ifndef SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
#define SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE 0x2
#endif
#ifndef FILE_DISPOSITION_FLAG_DELETE
#define FILE_DISPOSITION_FLAG_DO_NOT_DELETE 0x00000000
#define FILE_DISPOSITION_FLAG_DELETE 0x00000001
#define FILE_DISPOSITION_FLAG_POSIX_SEMANTICS 0x00000002
#define FILE_DISPOSITION_FLAG_FORCE_IMAGE_SECTION_CHECK 0x00000004
#define FILE_DISPOSITION_FLAG_ON_CLOSE 0x00000008
#define FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE 0x00000010
typedef struct _FILE_DISPOSITION_INFO_EX {
    DWORD Flags;
} FILE_DISPOSITION_INFO_EX, *PFILE_DISPOSITION_INFO_EX;
#endif
typedef struct _FILE_ID_INFO {
    ULONGLONG VolumeSerialNumber;
    struct {
        BYTE Identifier[16];
    } FileId; // FILE_ID_128, which Wine has only in winternl.h
} FILE_ID_INFO, *PFILE_ID_INFO;
extern "C" WINBASEAPI DWORD WINAPI GetTempPath2W(DWORD BufferLength, LPWSTR Buffer);

# What every compile and link of the Microsoft-ABI build shares; cmake/msvc-abi.cmake includes it and
# scripts/msvc-deps reads the compile flags from it (cmake -DIOBOX_MSVC_DEPS=... -P this file prints them).
set(IOBOX_MSVC_LLVM_VERSION 16)
set(IOBOX_MSVC_LLVM_BIN /usr/lib/llvm-${IOBOX_MSVC_LLVM_VERSION}/bin)
get_filename_component(_iobox_root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(IOBOX_MSVC_WINE_INCLUDE /usr/include/wine/wine)
set(IOBOX_MSVC_WINE_DLLS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)

# Include order: the project's compatibility headers (some wrap Wine's with #include_next), Microsoft's STL, Wine's
# C runtime and Windows headers; all as system headers, so that their warnings are not the project's.
# Microsoft's 16-bit wchar_t and the compiler's __try/__except names (GetExceptionCode) in Wine's headers; the release C runtime (/MD) in every configuration: neither Wine nor
# the host has the debug runtime. The STL's vectorized algorithms (msvcprt.lib's vector_algorithms.cpp) are not
# built: clang 16 compiles their AVX2 paths only with the whole file targeting AVX2.
set(IOBOX_MSVC_COMPILE_FLAGS
  /X
  -imsvc ${CMAKE_CURRENT_LIST_DIR}/include
  -imsvc ${_iobox_root}/third_party/msvc-stl/inc
  -imsvc ${IOBOX_MSVC_WINE_INCLUDE}/msvcrt
  -imsvc ${IOBOX_MSVC_WINE_INCLUDE}/windows
  -fms-compatibility-version=19.38
  -DWINE_UNICODE_NATIVE
  -DUSE_COMPILER_EXCEPTIONS
  -D_USE_STD_VECTOR_ALGORITHMS=0)

# The start-up code and the STL's static parts (built by scripts/msvc-deps), then the import libraries of the
# Visual C++ runtime the host ships and of the Windows DLLs in use.
set(IOBOX_MSVC_RUNTIME_LIBS iobox_crt.lib iobox_msvcprt.lib msvcp140.lib vcruntime140.lib ucrtbase.lib)
set(IOBOX_MSVC_SYSTEM_DLLS kernel32 advapi32 user32 ws2_32 mswsock crypt32 bcrypt)

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  foreach(flag IN LISTS IOBOX_MSVC_COMPILE_FLAGS)
    message(NOTICE "${flag}")
  endforeach()
endif()

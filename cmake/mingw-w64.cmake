# Cross-build for 64-bit Windows with MinGW-w64 (posix thread model); tests run under Wine.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DIOBOX_WIN_DEPS=$(scripts/windows-deps)
# IOBOX_WIN_DEPS is the prefix scripts/windows-deps prints (the environment variable of that name works too).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(_iobox_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_iobox_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_iobox_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${_iobox_triplet}-windres)
set(CMAKE_AR ${_iobox_triplet}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${_iobox_triplet}-gcc-ranlib-posix CACHE FILEPATH "Ranlib")

if(NOT IOBOX_WIN_DEPS AND DEFINED ENV{IOBOX_WIN_DEPS})
  set(IOBOX_WIN_DEPS "$ENV{IOBOX_WIN_DEPS}")
endif()
if(NOT IOBOX_WIN_DEPS)
  message(FATAL_ERROR "Set IOBOX_WIN_DEPS to the prefix printed by scripts/windows-deps")
endif()
set(IOBOX_WIN_DEPS "${IOBOX_WIN_DEPS}" CACHE PATH "Windows dependency prefix (scripts/windows-deps)")
# try_compile projects re-read this file; hand them the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES IOBOX_WIN_DEPS)

# Libraries, headers and CMake packages only from the prefix and the MinGW sysroot; build tools from the host.
set(CMAKE_FIND_ROOT_PATH "${IOBOX_WIN_DEPS}" /usr/${_iobox_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The prefix's include/ plays /usr/include's part on Linux: <modbus/modbus.h>, <rapidjson/...>,
# <CLI/...> and <boost/...> resolve without per-target include paths, as system headers.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES "${IOBOX_WIN_DEPS}/include")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "${IOBOX_WIN_DEPS}/include")

# pkg-config (a host program) sees only the prefix's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "${IOBOX_WIN_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

# Static dependencies only; FindOpenSSL then adds the Windows system libraries itself.
set(OPENSSL_USE_STATIC_LIBS ON)
set(Boost_USE_STATIC_LIBS ON)

# Self-contained binaries: libstdc++, libgcc and winpthread linked in, so nothing but system DLLs is needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# CTest, gtest_discover_tests and try_run start .exe files through Wine, with one Wine prefix per build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run;--wineprefix=${CMAKE_BINARY_DIR}/wineprefix")
# Listing a test program's cases through Wine at build time can outlast gtest_discover_tests'
# 5 s (a fresh Wine prefix takes most of a minute); list them when CTest runs instead.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

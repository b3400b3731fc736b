# Cross-build for 64-bit Windows in Microsoft's C++ ABI: clang in cl mode (so CMake sees an MSVC-like compiler and the
# MSVC branches are the ones compiled), lld-link, llvm-lib, llvm-rc; Microsoft's STL (third_party/msvc-stl), Wine's
# C runtime and Windows headers, import libraries made from Wine's own DLLs. Tests run under Wine.
#   cmake -S . -B build-msvc -DCMAKE_TOOLCHAIN_FILE=cmake/msvc-abi.cmake -DIOBOX_MSVC_DEPS=$(scripts/msvc-deps)
# IOBOX_MSVC_DEPS is the prefix scripts/msvc-deps prints (the environment variable of that name works too).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

if(NOT IOBOX_MSVC_DEPS AND DEFINED ENV{IOBOX_MSVC_DEPS})
  set(IOBOX_MSVC_DEPS "$ENV{IOBOX_MSVC_DEPS}")
endif()
if(NOT IOBOX_MSVC_DEPS)
  message(FATAL_ERROR "Set IOBOX_MSVC_DEPS to the prefix printed by scripts/msvc-deps")
endif()
set(IOBOX_MSVC_DEPS "${IOBOX_MSVC_DEPS}" CACHE PATH "Microsoft-ABI dependency prefix (scripts/msvc-deps)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES IOBOX_MSVC_DEPS)

include(${CMAKE_CURRENT_LIST_DIR}/../toolchain/msvc-abi/settings.cmake)

# clang decides its driver mode by its name: the prefix's bin/clang-cl is a link to clang.
set(CMAKE_C_COMPILER "${IOBOX_MSVC_DEPS}/bin/clang-cl")
set(CMAKE_CXX_COMPILER "${IOBOX_MSVC_DEPS}/bin/clang-cl")
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_LINKER "${IOBOX_MSVC_LLVM_BIN}/lld-link" CACHE FILEPATH "Linker")
set(CMAKE_AR "${IOBOX_MSVC_LLVM_BIN}/llvm-lib" CACHE FILEPATH "Librarian")
set(CMAKE_RC_COMPILER "${IOBOX_MSVC_LLVM_BIN}/llvm-rc")
set(CMAKE_MT "${IOBOX_MSVC_LLVM_BIN}/llvm-mt" CACHE FILEPATH "Manifest tool")

# The prefix's include/ plays /usr/include's part: <boost/...>, <openssl/...>, <modbus/...> as system headers.
list(JOIN IOBOX_MSVC_COMPILE_FLAGS " " _iobox_flags)
string(APPEND _iobox_flags " -imsvc ${IOBOX_MSVC_DEPS}/include")
set(CMAKE_C_FLAGS_INIT "${_iobox_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_iobox_flags}")
set(CMAKE_RC_FLAGS_INIT "/I ${IOBOX_MSVC_WINE_INCLUDE}/windows /I ${IOBOX_MSVC_WINE_INCLUDE}/msvcrt")
set(CMAKE_MSVC_RUNTIME_LIBRARY MultiThreadedDLL)

# No Visual Studio library directory: the runtime and import libraries are the prefix's, named on every link.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "/nodefaultlib /libpath:${IOBOX_MSVC_DEPS}/lib /manifest:no")
endforeach()
list(TRANSFORM IOBOX_MSVC_SYSTEM_DLLS APPEND .lib OUTPUT_VARIABLE _iobox_system_libs)
list(JOIN IOBOX_MSVC_RUNTIME_LIBS " " _iobox_runtime)
list(JOIN _iobox_system_libs " " _iobox_system)
set(CMAKE_C_STANDARD_LIBRARIES "${_iobox_runtime} ${_iobox_system}" CACHE STRING "Libraries every program and DLL links" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "${_iobox_runtime} ${_iobox_system}" CACHE STRING "Libraries every program and DLL links" FORCE)

# Libraries, headers and CMake packages only from the prefix; build tools from the host.
set(CMAKE_FIND_ROOT_PATH "${IOBOX_MSVC_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${IOBOX_MSVC_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})
set(OPENSSL_USE_STATIC_LIBS ON)
set(OPENSSL_MSVC_STATIC_RT OFF)
set(Boost_USE_STATIC_LIBS ON)
set(Boost_USE_STATIC_RUNTIME OFF)

# CTest, gtest_discover_tests and try_run start .exe files through Wine, with one Wine prefix per build folder.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run;--wineprefix=${CMAKE_BINARY_DIR}/wineprefix")
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

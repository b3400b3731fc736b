# Install rules and the Windows release ZIP; included once, after every target exists.
#
# Linux: `cmake --install` puts the plug-in, iobox-host, iobox-sim and the host stand-in's two
# libraries under the prefix (GNUInstallDirs), every RPATH relative to $ORIGIN, so the tree can
# be moved and the installed iobox-host finds the installed plug-in by itself.
# Windows: the install rules hold only what an integrator installs (component "plugin"); CPack
# turns them into iobox.d-<version>-win64.zip with its .sha256 (scripts/package).
include(GNUInstallDirs)

set(_pkg_src ${PROJECT_SOURCE_DIR}/packaging)

if(NOT WIN32)
  set(IOBOX_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/iobox.d)
  # Relative paths between the installed folders: right for any prefix given at install time.
  file(RELATIVE_PATH _lib_from_plugin ${CMAKE_INSTALL_FULL_LIBDIR}/iobox.d ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH _lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH _plugin_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
    ${CMAKE_INSTALL_FULL_LIBDIR}/iobox.d/iobox.d${CMAKE_SHARED_MODULE_SUFFIX})

  if(TARGET host_framework)
    install(TARGETS host_framework quovix_sdk LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT plugin)
  endif()
  install(TARGETS iobox.d LIBRARY DESTINATION ${IOBOX_PLUGIN_INSTALL_DIR} COMPONENT plugin)
  # The host has its libraries loaded before the plug-in; the RPATH serves a host that has not.
  set_target_properties(iobox.d PROPERTIES INSTALL_RPATH "$ORIGIN/${_lib_from_plugin}")
  if(TARGET iobox-host)
    install(TARGETS iobox-host iobox-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    set_target_properties(iobox-host PROPERTIES INSTALL_RPATH "$ORIGIN/${_lib_from_bin}")
    target_compile_definitions(iobox_host_app PRIVATE IOBOX_HOST_PLUGIN_INSTALLED="${_plugin_from_bin}")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT plugin)

  # The installed tree, moved elsewhere, runs on its own: iobox-host finds the installed plug-in
  # and the stand-in's libraries through paths relative to itself.
  if(IOBOX_BUILD_TESTS AND TARGET iobox-host)
    add_test(NAME installed_tree_runs_where_it_is_moved
      COMMAND ${_pkg_src}/check-install ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
    set_tests_properties(installed_tree_runs_where_it_is_moved PROPERTIES LABELS integration TIMEOUT 120)
  endif()
  return()
endif()

# ---- Windows: the integrator's package ---------------------------------------------------------
if(TARGET iobox_host_app)
  # An iobox-host.exe copied beside the DLL checks it there.
  target_compile_definitions(iobox_host_app PRIVATE IOBOX_HOST_PLUGIN_INSTALLED="iobox.d.dll")
endif()

# What the package holds, in README.txt's order: "<path in the package>|<what it is>".
set(IOBOX_PACKAGE_CONTENTS "iobox.d.dll|the plug-in")

install(TARGETS iobox.d LIBRARY DESTINATION . COMPONENT plugin)

# Release builds carry debug information; it ships beside the DLL, not in it: the linker writes
# iobox.d.pdb and the DLL names it, with its signature, in its debug directory.
set_property(TARGET iobox_core iobox.d PROPERTY MSVC_DEBUG_INFORMATION_FORMAT Embedded)
# /pdbaltpath: the DLL names the PDB by its file name only, not by a path of the build machine.
target_link_options(iobox.d PRIVATE "$<$<CONFIG:Release>:LINKER:/DEBUG,/OPT:REF,/OPT:ICF,/pdbaltpath:%_PDB%>")
install(FILES $<TARGET_PDB_FILE:iobox.d> DESTINATION . COMPONENT plugin)
list(APPEND IOBOX_PACKAGE_CONTENTS "iobox.d.pdb|its debug information (a PDB, for a debugger or a crash dump)")
install(TARGETS iobox-check RUNTIME DESTINATION . COMPONENT plugin)
list(APPEND IOBOX_PACKAGE_CONTENTS "iobox-check.exe|checks that the host's DLLs have what iobox.d.dll imports")

list(APPEND IOBOX_PACKAGE_CONTENTS
  "README.txt|this file"
  "CHANGELOG.md|what changed in each release")
install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION . COMPONENT plugin)

# iobox_package_license(<path in the package> <source file> <what it covers>)
function(iobox_package_license name source what)
  if(NOT EXISTS ${source})
    message(FATAL_ERROR "licence text ${source} is missing")
  endif()
  get_filename_component(dir ${name} DIRECTORY)
  get_filename_component(file ${name} NAME)
  if(NOT dir)
    set(dir .)
  endif()
  install(FILES ${source} DESTINATION ${dir} RENAME ${file} COMPONENT plugin)
  set(IOBOX_PACKAGE_CONTENTS ${IOBOX_PACKAGE_CONTENTS} "${name}|${what}" PARENT_SCOPE)
endfunction()

# The project's licence, then one entry per library linked into the DLL statically.
iobox_package_license(LICENSE.txt ${PROJECT_SOURCE_DIR}/LICENSE "the plug-in's licence, Apache License 2.0")
iobox_package_license(licenses/OpenSSL.txt ${_pkg_src}/licenses/OpenSSL-LICENSE.txt
  "OpenSSL 3, Apache License 2.0")
iobox_package_license(licenses/Boost.txt ${_pkg_src}/licenses/Boost-LICENSE_1_0.txt
  "Boost (Asio, Thread, System, Date_Time), Boost Software License 1.0")
# Microsoft's STL, compiled into a Microsoft-ABI build from third_party/msvc-stl.
set(_msvc_stl ${PROJECT_SOURCE_DIR}/third_party/msvc-stl)
if(CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
  iobox_package_license(licenses/msvc-stl/LICENSE.txt ${_msvc_stl}/LICENSE.txt
    "Microsoft's C++ standard library, Apache License 2.0 with LLVM exception")
  iobox_package_license(licenses/msvc-stl/NOTICE.txt ${_msvc_stl}/NOTICE.txt
    "Microsoft's C++ standard library, third-party notices")
endif()

# The DLLs the plug-in imports: the package check compares these lists with the Release DLL's
# import table. The host's SDK library is not among them: its one call sits in a base-class path
# that the optimiser proves unreachable. The Visual C++ runtime is the host's (README.txt).
set(IOBOX_PACKAGE_HOST_IMPORTS host_framework.dll)
set(IOBOX_PACKAGE_SYSTEM_IMPORTS msvcp140.dll vcruntime140.dll ucrtbase.dll kernel32.dll ws2_32.dll
  advapi32.dll user32.dll)
list(JOIN IOBOX_PACKAGE_HOST_IMPORTS " " IOBOX_PACKAGE_HOST_IMPORT_LIST)
list(JOIN IOBOX_PACKAGE_SYSTEM_IMPORTS " " IOBOX_PACKAGE_SYSTEM_IMPORT_LIST)

# README.txt's list of contents, aligned.
set(IOBOX_PACKAGE_CONTENTS_TEXT "")
foreach(entry IN LISTS IOBOX_PACKAGE_CONTENTS)
  string(REPLACE "|" ";" pair "${entry}")
  list(GET pair 0 path)
  list(GET pair 1 what)
  string(LENGTH "${path}" len)
  math(EXPR pad "32 - ${len}")
  if(pad LESS 1)
    set(pad 1)
  endif()
  string(REPEAT " " ${pad} spaces)
  string(APPEND IOBOX_PACKAGE_CONTENTS_TEXT "  ${path}${spaces}${what}\n")
endforeach()
configure_file(${_pkg_src}/README.txt.in ${CMAKE_BINARY_DIR}/packaging/README.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION . COMPONENT plugin)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME iobox.d)
set(CPACK_PACKAGE_VENDOR iobox.d)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME iobox.d-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# One folder named like the ZIP holds everything; only the plug-in's component goes in.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};iobox.d;plugin;/")
set(CPACK_SOURCE_GENERATOR "")
include(CPack)

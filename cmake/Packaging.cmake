# Install rules and the Windows release ZIP; included once, after every target exists.
#
# Linux: `cmake --install` puts the plug-in, iobox-host, iobox-sim and the host stand-in's two
# libraries under the prefix (GNUInstallDirs), every RPATH relative to $ORIGIN, so the tree can
# be moved and the installed iobox-host finds the installed plug-in by itself.
include(GNUInstallDirs)

set(_pkg_src ${PROJECT_SOURCE_DIR}/packaging)

if(NOT WIN32)
  set(IOBOX_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/iobox.d)
  # Relative paths between the installed folders: right for any prefix given at install time.
  file(RELATIVE_PATH _lib_from_plugin ${CMAKE_INSTALL_FULL_LIBDIR}/iobox.d ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH _lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH _plugin_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
    ${CMAKE_INSTALL_FULL_LIBDIR}/iobox.d/iobox.d${CMAKE_SHARED_MODULE_SUFFIX})

  install(TARGETS host_framework quovix_sdk LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT plugin)
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

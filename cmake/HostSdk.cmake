# The host maker's own SDK in place of the stand-in in host/:
#   cmake -DIOBOX_HOST_SDK=<folder> [-DIOBOX_HOST_SDK_LIBS=<libraries>] ...
# <folder>/include holds its headers; <folder>/lib its import libraries (.lib) on Windows, its shared libraries
# (.so) elsewhere. Every one there is linked unless IOBOX_HOST_SDK_LIBS names them (file names in lib/, or full
# paths). Defines iobox_host, the target the plug-in takes the host from in either case.
get_filename_component(IOBOX_HOST_SDK "${IOBOX_HOST_SDK}" ABSOLUTE)
if(NOT IS_DIRECTORY "${IOBOX_HOST_SDK}/include")
  message(FATAL_ERROR "IOBOX_HOST_SDK: ${IOBOX_HOST_SDK} has no include/ folder")
endif()

if(WIN32)
  set(_sdk_suffix ${CMAKE_IMPORT_LIBRARY_SUFFIX})
else()
  set(_sdk_suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
endif()
set(_sdk_libs "")
if(IOBOX_HOST_SDK_LIBS)
  foreach(lib IN LISTS IOBOX_HOST_SDK_LIBS)
    if(NOT IS_ABSOLUTE "${lib}")
      set(lib "${IOBOX_HOST_SDK}/lib/${lib}")
    endif()
    if(NOT EXISTS "${lib}")
      message(FATAL_ERROR "IOBOX_HOST_SDK_LIBS: ${lib} does not exist")
    endif()
    list(APPEND _sdk_libs "${lib}")
  endforeach()
else()
  file(GLOB _sdk_libs "${IOBOX_HOST_SDK}/lib/*${_sdk_suffix}")
  if(NOT _sdk_libs)
    message(FATAL_ERROR "IOBOX_HOST_SDK: no *${_sdk_suffix} in ${IOBOX_HOST_SDK}/lib (or name them in IOBOX_HOST_SDK_LIBS)")
  endif()
endif()

add_library(iobox_host INTERFACE)
# The SDK's headers are not ours: their warnings must not fail the plug-in's build.
target_include_directories(iobox_host SYSTEM INTERFACE "${IOBOX_HOST_SDK}/include")
target_link_libraries(iobox_host INTERFACE ${_sdk_libs})
message(STATUS "Host SDK ${IOBOX_HOST_SDK}: ${_sdk_libs}; the plug-in alone is built")

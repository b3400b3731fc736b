# Compares the virtual-table and record layouts of the classes and records that cross the host
# boundary with the reviewed ones:
#   cmake -DCOMMANDS=<build>/compile_commands.json -DPROBE=<LayoutProbe.cpp> [-DCOMPILER=<clang>]
#         -DEXPECTED=<layouts-*.txt> -DACTUAL=<file to write> -P CheckLayouts.cmake
# The probe is compiled with its own recorded command line (the compiler swapped for COMPILER when
# given: the Linux build compiles with g++, which cannot dump) plus clang's layout dumps. Only the
# blocks of the classes and records named below are kept; they hold no address or path.
cmake_minimum_required(VERSION 3.25)

set(classes
  proto::IProto Marl::Base::CTMTask OstraPlatform::CBaseContent dam::IDevice dam::IDriverInterfaceOperate
  dam::IDriverManager dam::IExtendLoginParamFactory dam::CDriverInterface_Standard dam::CStrategy_Standard
  dam::CDeviceTesselDetach dam::CCommonOperationInterface_Standard
  iobox::CSPDriverInterface iobox::CIOBoxLoginParamFactory iobox::CIOBoxStrategy iobox::CModbusTesselDetach
  iobox::CIOBoxCommonOperaion iobox::CModbusAlarminputAlarmTask iobox::CSPDamEventMsg)
set(records OstraPlatform::DeviceStatusInfo iobox::DeviceStatusRecord dam::AlarmOutputStatus)

file(READ "${COMMANDS}" json)
string(JSON count LENGTH "${json}")
math(EXPR last "${count} - 1")
unset(command)
foreach(i RANGE ${last})
  string(JSON file GET "${json}" ${i} file)
  if(file STREQUAL PROBE)
    string(JSON command GET "${json}" ${i} command)
    string(JSON directory GET "${json}" ${i} directory)
    break()
  endif()
endforeach()
if(NOT DEFINED command)
  message(FATAL_ERROR "${PROBE} is not in ${COMMANDS}")
endif()

get_filename_component(work "${ACTUAL}" DIRECTORY)
separate_arguments(args UNIX_COMMAND "${command}")
set(compile "")
set(sources "")
set(inputs FALSE)
set(skip_next FALSE)
foreach(arg IN LISTS args)
  if(skip_next)
    set(skip_next FALSE)
  elseif(arg MATCHES "^(-o|-MF|-MT)$")
    set(skip_next TRUE) # object and dependency files: the build's, not ours
  elseif(arg STREQUAL "--")
    set(inputs TRUE) # clang-cl: only inputs follow
  elseif(inputs)
    list(APPEND sources "${arg}")
  elseif(NOT arg MATCHES "^([-/]Fo|/showIncludes$)")
    list(APPEND compile "${arg}")
  endif()
endforeach()
if(COMPILER)
  list(POP_FRONT compile)
  list(PREPEND compile "${COMPILER}")
endif()
if(compile MATCHES "(^|;)[-/]c(;|$)" AND command MATCHES "[-/]Fo")
  list(APPEND compile "/Fo${work}/LayoutProbe.obj")
else()
  list(APPEND compile -o "${work}/LayoutProbe.o")
endif()
list(APPEND compile -w -Xclang -fdump-vtable-layouts -Xclang -fdump-record-layouts)
if(sources)
  list(APPEND compile -- ${sources})
endif()
execute_process(COMMAND ${compile} WORKING_DIRECTORY "${directory}"
  OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE failed)
if(failed)
  string(REPLACE ";" " " shown "${compile}")
  message(FATAL_ERROR "the layout probe did not compile:\n${shown}\n${errors}")
endif()

# One block per table or record: from its heading to the next heading or empty line. Brackets would bind list elements
# together, so they are stood in for while the dump is a list.
string(REPLACE "[" "<open>" dump "${dump}")
string(REPLACE "]" "<close>" dump "${dump}")
string(REPLACE ";" "\\;" dump "${dump}")
string(REGEX REPLACE "\n(Vtable for|VFTable for|VTable indices|VFTable indices|\\*\\*\\* Dumping)" ";\\1" blocks "\n${dump}")
set(kept "")
foreach(block IN LISTS blocks)
  string(FIND "${block}" "\n\n" blank)
  string(SUBSTRING "${block}" 0 ${blank} block)
  string(STRIP "${block}" block)
  unset(name)
  if(block MATCHES "^(Vtable|VFTable) for [^\n]*'([^']+)' \\([0-9]+ entries\\)")
    set(name "${CMAKE_MATCH_2}")
    set(wanted ${classes})
  elseif(block MATCHES "^\\*\\*\\* Dumping AST Record Layout\n +0 \\| (struct|class) ([^\n]+)")
    set(name "${CMAKE_MATCH_2}")
    set(wanted ${records})
  endif()
  if(DEFINED name AND name IN_LIST wanted)
    string(APPEND kept "${block}\n\n")
  endif()
endforeach()
string(REPLACE "<open>" "[" kept "${kept}")
string(REPLACE "<close>" "]" kept "${kept}")
file(WRITE "${ACTUAL}" "${kept}")

file(READ "${EXPECTED}" expected)
if(NOT kept STREQUAL expected)
  execute_process(COMMAND diff -u "${EXPECTED}" "${ACTUAL}")
  message(FATAL_ERROR "the layouts differ from the reviewed ones (diff above). A slot or field moved: "
    "fix the header. If the change is intended and reviewed against the host's lists:\n"
    "  cp ${ACTUAL} ${EXPECTED}")
endif()
message(STATUS "the layouts are the reviewed ones")

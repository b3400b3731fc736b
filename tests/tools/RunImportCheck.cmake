# Runs iobox-check under Wine and checks its exit code and output:
#   cmake -DEMULATOR=<wine-run> -DCHECK=<iobox-check.exe> -DMODULE=<iobox.d.dll> -DFOLDER=<host folder>
#         -DCODE=<exit code> "-DEXPECT=<regex>;..." -P RunImportCheck.cmake
cmake_minimum_required(VERSION 3.25)
file(MAKE_DIRECTORY "${FOLDER}")
# Under Wine, Unix paths as its drive Z: sees them. The output goes to a file: a pipe would stay
# open until Wine's helper processes leave, half a minute later.
set(drive "")
if(EMULATOR)
  set(drive "Z:")
endif()
string(MD5 name "${FOLDER}")
set(out "${CMAKE_CURRENT_BINARY_DIR}/import-check-${name}.txt")
execute_process(COMMAND ${EMULATOR} ${CHECK} --dll "${drive}${MODULE}" "${drive}${FOLDER}"
  OUTPUT_FILE "${out}" ERROR_FILE "${out}.err" RESULT_VARIABLE code TIMEOUT 120)
file(READ "${out}" output)
file(READ "${out}.err" errors)
message("${output}${errors}")
if(NOT code STREQUAL CODE)
  message(FATAL_ERROR "iobox-check exited with ${code}, expected ${CODE}")
endif()
foreach(expected IN LISTS EXPECT)
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "iobox-check did not print: ${expected}")
  endif()
endforeach()

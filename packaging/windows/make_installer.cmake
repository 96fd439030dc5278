# Makes one Windows setup program with makensis (installer.nsi), when it is older than what
# it packs. The window program loader.exe is packed when the Windows build made it.
#   cmake -DMAKENSIS=<makensis> -DARCH=<x86_64|i686> -DVERSION=<x.y.z> -DBIN_DIR=<folder>
#         -DDRIVER_DIR=<folder> -DCICARD_SYS=<file> -DOUTFILE=<setup.exe> -DRECORD=<file>
#         -P make_installer.cmake
# RECORD keeps the list of files the setup was made from.
cmake_minimum_required(VERSION 3.24)
set(script ${CMAKE_CURRENT_LIST_DIR}/installer.nsi)

set(inputs ${script} ${BIN_DIR}/loader-cli.exe ${BIN_DIR}/cibridge.dll
           ${DRIVER_DIR}/morvane-ci-adapter.inf ${DRIVER_DIR}/cicard.inf ${CICARD_SYS})
foreach(input ${inputs})
  if(NOT EXISTS ${input})
    message(FATAL_ERROR "The ${ARCH} setup needs ${input}: build the Windows programs first "
                        "(scripts/package, or the preset windows-${ARCH} of docs/windows.md)")
  endif()
endforeach()
set(defines -DARCH=${ARCH} -DVERSION=${VERSION} -DBIN_DIR=${BIN_DIR} -DDRIVER_DIR=${DRIVER_DIR}
            -DCICARD_SYS=${CICARD_SYS} -DOUTFILE=${OUTFILE})
if(EXISTS ${BIN_DIR}/loader.exe)
  list(APPEND inputs ${BIN_DIR}/loader.exe)
  list(APPEND defines -DHAVE_LOADER)
else()
  message(STATUS "${ARCH} setup: ${BIN_DIR}/loader.exe is not built, the setup has no window program")
endif()

# A setup newer than every input, made with the same inputs, stays.
set(record ${RECORD})
if(EXISTS ${OUTFILE} AND EXISTS ${record})
  file(READ ${record} previous)
  set(current_inputs ${inputs})
  if(previous STREQUAL "${current_inputs}")
    set(stale FALSE)
    foreach(input ${inputs})
      if(${input} IS_NEWER_THAN ${OUTFILE})
        set(stale TRUE)
      endif()
    endforeach()
    if(NOT stale)
      return()
    endif()
  endif()
endif()

get_filename_component(folder ${OUTFILE} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 ${defines} ${script}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTFILE} ${record})
  message(FATAL_ERROR "makensis failed for the ${ARCH} setup")
endif()
file(WRITE ${record} "${inputs}")

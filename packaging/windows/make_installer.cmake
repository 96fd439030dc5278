# Makes one Windows setup program with makensis (installer.nsi), when it is older than what
# it packs. The window program loader.exe is packed when the Windows build made it.
#   cmake -DMAKENSIS=<makensis> -DARCH=<x86_64|i686> -DVERSION=<x.y.z> -DBIN_DIR=<folder>
#         -DDRIVER_DIR=<folder> -DCICARD_SYS=<file> -DOUTFILE=<setup.exe> -DRECORD=<file>
#         -DSTAGE_DIR=<folder> -DDEBUG_DIR=<folder> -DLICENSE_FILE=<file>
#         -DPRODUCT=<name> -DPUBLISHER=<name> -DHOMEPAGE=<url>
#         -P make_installer.cmake
# RECORD keeps the list of files the setup was made from.
#
# The programs and the library are packed stripped, from STAGE_DIR: their debug information
# goes into DEBUG_DIR/<file>.debug, which the stripped file names (.gnu_debuglink). With a
# signing key in the environment (sign.sh) the staged programs and library, the uninstaller
# and the setup are signed; without one the setup and its files are unsigned, and this says so.
cmake_minimum_required(VERSION 3.24)
set(script ${CMAKE_CURRENT_LIST_DIR}/installer.nsi)
set(sign_script ${CMAKE_CURRENT_LIST_DIR}/sign.sh)
set(icon ${CMAKE_CURRENT_LIST_DIR}/resources/loader.ico)

set(programs loader-cli.exe cibridge.dll)
if(EXISTS ${BIN_DIR}/loader.exe)
  list(APPEND programs loader.exe)
else()
  message(STATUS "${ARCH} setup: ${BIN_DIR}/loader.exe is not built, the setup has no window program")
endif()
set(inputs ${script} ${CMAKE_CURRENT_LIST_FILE} ${sign_script} ${icon} ${LICENSE_FILE} ${DRIVER_DIR}/morvane-ci-adapter.inf
           ${DRIVER_DIR}/cicard.inf ${CICARD_SYS})
foreach(program ${programs})
  list(APPEND inputs ${BIN_DIR}/${program})
endforeach()
foreach(input ${inputs})
  if(NOT EXISTS ${input})
    message(FATAL_ERROR "The ${ARCH} setup needs ${input}: build the Windows programs first "
                        "(scripts/package, or the preset windows-${ARCH} of docs/windows.md)")
  endif()
endforeach()

if(DEFINED ENV{MORVANE_SIGN_PKCS12} OR DEFINED ENV{MORVANE_SIGN_PKCS11_MODULE})
  set(signing "signed with $ENV{MORVANE_SIGN_PKCS12}$ENV{MORVANE_SIGN_PKCS11_KEY}")
else()
  set(signing "unsigned")
endif()

# A setup newer than every input, made with the same inputs and the same key, stays.
set(current "${inputs};${signing}")
if(EXISTS ${OUTFILE} AND EXISTS ${RECORD})
  file(READ ${RECORD} previous)
  if(previous STREQUAL "${current}")
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
file(REMOVE ${RECORD})

find_program(strip ${ARCH}-w64-mingw32-strip REQUIRED)
find_program(objcopy ${ARCH}-w64-mingw32-objcopy REQUIRED)
# strip and objcopy write the current time into a PE header unless SOURCE_DATE_EPOCH says
# otherwise: 0, as the linker leaves it (--no-insert-timestamp).
set(no_time ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0)
file(REMOVE_RECURSE ${STAGE_DIR})
file(MAKE_DIRECTORY ${STAGE_DIR} ${DEBUG_DIR})
foreach(program ${programs})
  set(staged ${STAGE_DIR}/${program})
  file(COPY_FILE ${BIN_DIR}/${program} ${staged})
  execute_process(COMMAND ${no_time} ${objcopy} --only-keep-debug ${staged} ${DEBUG_DIR}/${program}.debug
                  COMMAND_ERROR_IS_FATAL ANY)
  if(program MATCHES "\\.dll$")
    set(strip_option --strip-unneeded)
  else()
    set(strip_option --strip-all)
  endif()
  execute_process(COMMAND ${no_time} ${strip} ${strip_option} ${staged} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${no_time} ${objcopy} --add-gnu-debuglink=${DEBUG_DIR}/${program}.debug ${staged}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()

string(REGEX REPLACE "^([0-9]+\\.[0-9]+\\.[0-9]+).*" "\\1.0" version4 "${VERSION}")
set(defines -DARCH=${ARCH} -DVERSION=${VERSION} -DVERSION4=${version4} -DBIN_DIR=${STAGE_DIR}
            -DDRIVER_DIR=${DRIVER_DIR} -DCICARD_SYS=${CICARD_SYS} -DOUTFILE=${OUTFILE}
            -DLICENSE_FILE=${LICENSE_FILE} -DICON=${icon} "-DPRODUCT=${PRODUCT}"
            "-DPUBLISHER=${PUBLISHER}" -DHOMEPAGE=${HOMEPAGE})
if(EXISTS ${STAGE_DIR}/loader.exe)
  list(APPEND defines -DHAVE_LOADER)
endif()
if(NOT signing STREQUAL "unsigned")
  set(staged_programs ${programs})
  list(TRANSFORM staged_programs PREPEND ${STAGE_DIR}/)
  execute_process(COMMAND ${sign_script} ${staged_programs} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Signing the ${ARCH} programs failed")
  endif()
  list(APPEND defines -DSIGN_COMMAND=${sign_script})
endif()

get_filename_component(folder ${OUTFILE} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8 ${defines} ${script}
                RESULT_VARIABLE result)
if(result EQUAL 0 AND NOT signing STREQUAL "unsigned")
  execute_process(COMMAND ${sign_script} ${OUTFILE} RESULT_VARIABLE result)
endif()
if(NOT result EQUAL 0)
  file(REMOVE ${OUTFILE})
  message(FATAL_ERROR "makensis or signing failed for the ${ARCH} setup")
endif()
if(signing STREQUAL "unsigned")
  message(STATUS "${ARCH} setup: UNSIGNED (no signing key given, see docs/windows.md)")
else()
  message(STATUS "${ARCH} setup: signed, with its programs, library and uninstaller")
endif()
file(WRITE ${RECORD} "${current}")

# A list other than the default reaches every generated file, in its order and in each file's
# own spelling; a malformed or repeated entry stops the configuration with a message.
#   cmake -DSOURCE_DIR=<repo> -DWORK_DIR=<scratch> -P check_adapter_files.cmake
cmake_minimum_required(VERSION 3.24)
set(generator ${SOURCE_DIR}/packaging/write_adapter_files.cmake)
file(REMOVE_RECURSE ${WORK_DIR})

execute_process(
  COMMAND ${CMAKE_COMMAND} "-DIDS=04b4:8613;1B0D:5F10" -DFOLDER=${WORK_DIR} -DVERSION=9.8.7
          -P ${generator}
  RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the generator failed on a good list: ${errors}")
endif()

function(expect_text file expected)
  file(READ ${WORK_DIR}/${file} text)
  string(FIND "${text}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${file} lacks:\n${expected}\n--- it reads:\n${text}")
  endif()
endfunction()

expect_text(adapter_usb_ids.inc "    {0x04B4, 0x8613},\n    {0x1B0D, 0x5F10},\n")
expect_text(70-morvane-ci-adapter.rules
  "ATTR{idVendor}==\"04b4\", ATTR{idProduct}==\"8613\", TAG+=\"uaccess\"\nSUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"1b0d\", ATTR{idProduct}==\"5f10\", TAG+=\"uaccess\"")
# file(READ) drops the CR of CR LF: the line ends are checked on the bytes.
set(models "%AdapterName% = Adapter_Install, USB\\VID_04B4&PID_8613\n%AdapterName% = Adapter_Install, USB\\VID_1B0D&PID_5F10\n")
expect_text(morvane-ci-adapter.inf "[Adapter.NTx86]\n${models}")
expect_text(morvane-ci-adapter.inf "[Adapter.NTamd64]\n${models}")
expect_text(morvane-ci-adapter.inf ",9.8.7.0\n")
file(READ ${WORK_DIR}/morvane-ci-adapter.inf text)
file(SIZE ${WORK_DIR}/morvane-ci-adapter.inf size)
string(LENGTH "${text}" length)
string(REGEX REPLACE "[^\n]" "" line_feeds "${text}")
string(LENGTH "${line_feeds}" line_count)
math(EXPR carriage_returns "${size} - ${length}")
if(NOT carriage_returns EQUAL line_count)
  message(FATAL_ERROR "morvane-ci-adapter.inf: ${carriage_returns} CR for ${line_count} lines")
endif()

foreach(bad "" "1B0D5F10" "1B0D:5F1" "1B0D:5F1G" "1B0D:5F10;1b0d:5f10" "1B0D:5F10:0000")
  execute_process(
    COMMAND ${CMAKE_COMMAND} "-DIDS=${bad}" -DFOLDER=${WORK_DIR}/bad -DVERSION=1.0.0
            -P ${generator}
    RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(result EQUAL 0 OR NOT errors MATCHES "MORVANE_ADAPTER_IDS")
    message(FATAL_ERROR "the list \"${bad}\" was accepted or refused without naming the option: ${errors}")
  endif()
endforeach()
message(STATUS "generated files follow the list")

# The one list of USB CI adapter IDs. Everything that names the adapter by its IDs is made
# from it: the ID table of cibridge's libusb back end, the udev rule that gives the logged-in
# user the adapter, and the Windows INF file that binds WinUSB to it.
#
# An adapter keeps its IDs across the program download: the library writes the IDs it found
# the adapter under into the program's device descriptor, so the adapter comes back under the
# same pair. A cold adapter under other IDs (another edition, a blank EZ-USB) is therefore
# found before and after the download once its pair is in the list.
#
# morvane_parse_adapter_ids(<ids> <out-var>)
#   Checks a list of VVVV:PPPP pairs (hexadecimal, either case) and returns them in upper
#   case; a malformed or repeated entry stops the configuration with a message.
# morvane_write_adapter_files(<ids> <folder>)
#   Writes adapter_usb_ids.inc, 70-morvane-ci-adapter.rules and morvane-ci-adapter.inf for
#   the list into <folder>. It also runs in script mode (packaging/write_adapter_files.cmake).

set(MORVANE_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
# The date of the INF files' DriverVer: the day their content last changed.
set(MORVANE_DRIVER_DATE "12/08/2026")

function(morvane_parse_adapter_ids ids out)
  set(result "")
  if(ids STREQUAL "")
    message(FATAL_ERROR "MORVANE_ADAPTER_IDS is empty: name at least one VVVV:PPPP pair")
  endif()
  foreach(entry IN LISTS ids)
    string(STRIP "${entry}" entry)
    if(NOT entry MATCHES "^[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]:[0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f]$")
      message(FATAL_ERROR "MORVANE_ADAPTER_IDS: \"${entry}\" is not a vendor:product pair of "
                          "four hexadecimal digits each (e.g. 1B0D:5F10)")
    endif()
    string(TOUPPER "${entry}" entry)
    if(entry IN_LIST result)
      message(FATAL_ERROR "MORVANE_ADAPTER_IDS: ${entry} is listed twice")
    endif()
    list(APPEND result "${entry}")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(morvane_write_adapter_files ids folder)
  morvane_parse_adapter_ids("${ids}" pairs)
  set(table "")
  set(udev_lines "")
  set(inf_models "")
  foreach(pair IN LISTS pairs)
    string(SUBSTRING "${pair}" 0 4 vendor)
    string(SUBSTRING "${pair}" 5 4 product)
    string(TOLOWER "${vendor}" vendor_lower)
    string(TOLOWER "${product}" product_lower)
    string(APPEND table "    {0x${vendor}, 0x${product}},\n")
    string(APPEND udev_lines "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", "
                             "ATTR{idVendor}==\"${vendor_lower}\", "
                             "ATTR{idProduct}==\"${product_lower}\", TAG+=\"uaccess\"\n")
    string(APPEND inf_models "%AdapterName% = Adapter_Install, USB\\VID_${vendor}&PID_${product}\r\n")
  endforeach()
  set(MORVANE_ADAPTER_TABLE "${table}")
  string(STRIP "${udev_lines}" MORVANE_UDEV_RULES)
  set(MORVANE_INF_MODELS "${inf_models}")
  file(MAKE_DIRECTORY ${folder})
  # The INF file's lines end in CR LF; configure_file converts the template's own line ends,
  # the model lines bring theirs.
  # configure_file rewrites a file only when its text changes, so an unchanged list does not
  # rebuild the back end.
  configure_file(${MORVANE_PACKAGING_DIR}/adapter_usb_ids.inc.in ${folder}/adapter_usb_ids.inc @ONLY)
  configure_file(${MORVANE_PACKAGING_DIR}/linux/70-morvane-ci-adapter.rules.in
                 ${folder}/70-morvane-ci-adapter.rules @ONLY)
  configure_file(${MORVANE_PACKAGING_DIR}/windows/morvane-ci-adapter.inf.in
                 ${folder}/morvane-ci-adapter.inf @ONLY NEWLINE_STYLE CRLF)
endfunction()

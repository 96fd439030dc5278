# Script mode of morvane_write_adapter_files, for checking the generated files of any list:
#   cmake -DIDS="1B0D:5F10;04B4:8613" -DFOLDER=<folder> -DVERSION=<x.y.z> -P write_adapter_files.cmake
cmake_minimum_required(VERSION 3.24)
include(${CMAKE_CURRENT_LIST_DIR}/adapter_ids.cmake)
set(PROJECT_VERSION "${VERSION}")
morvane_write_adapter_files("${IDS}" "${FOLDER}")

# The identity of a Windows file: a version resource (product, description, the project's
# version), for the programs also an application manifest and the icon.
#   morvane_windows_resources(<target> DESCRIPTION <text> [MANIFEST] [ICON])
# The templates and the icon are in packaging/windows/resources. loader.ico is the desktop
# icon (packaging/linux/org.morvane.loader.svg) at 16, 24, 32, 48, 64 and 256 pixels, made with
#   for s in 16 24 32 48 64 256; do rsvg-convert -w $s -h $s org.morvane.loader.svg -o $s.png; done
#   icotool -c -o loader.ico 16.png 24.png 32.png 48.png 64.png -r 256.png
set(MORVANE_WINDOWS_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging/windows/resources)

function(morvane_windows_resources target)
  cmake_parse_arguments(R "MANIFEST;ICON" "DESCRIPTION" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(MORVANE_RC_INTERNAL_NAME ${output_name})
  set(MORVANE_RC_DESCRIPTION "${R_DESCRIPTION}")
  string(REPLACE "." "," MORVANE_RC_VERSION_COMMAS "${PROJECT_VERSION}.0")
  set(MORVANE_RC_VERSION_DOTS "${PROJECT_VERSION}.0")
  if(type STREQUAL "EXECUTABLE")
    set(MORVANE_RC_FILE_NAME ${output_name}.exe)
    set(MORVANE_RC_FILE_TYPE VFT_APP)
  else()
    set(MORVANE_RC_FILE_NAME ${output_name}.dll)
    set(MORVANE_RC_FILE_TYPE VFT_DLL)
  endif()
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(MORVANE_RC_MANIFEST_ARCH amd64)
  else()
    set(MORVANE_RC_MANIFEST_ARCH x86)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/resources/${target})
  set(MORVANE_RC_EXTRA "")
  if(R_ICON)
    string(APPEND MORVANE_RC_EXTRA
           "1 ICON \"${MORVANE_WINDOWS_RESOURCES_DIR}/loader.ico\"\n")
  endif()
  if(R_MANIFEST)
    configure_file(${MORVANE_WINDOWS_RESOURCES_DIR}/program.manifest.in
                   ${dir}/${MORVANE_RC_FILE_NAME}.manifest @ONLY)
    # 1 = CREATEPROCESS_MANIFEST_RESOURCE_ID, 24 = RT_MANIFEST
    string(APPEND MORVANE_RC_EXTRA "1 24 \"${dir}/${MORVANE_RC_FILE_NAME}.manifest\"\n")
  endif()
  configure_file(${MORVANE_WINDOWS_RESOURCES_DIR}/version.rc.in ${dir}/version.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/version.rc)
  set_property(SOURCE ${dir}/version.rc APPEND PROPERTY OBJECT_DEPENDS
               ${MORVANE_WINDOWS_RESOURCES_DIR}/loader.ico)
endfunction()

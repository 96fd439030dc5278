# Strips the package's ELF files as Debian's tools do (dh_strip), before CPack packs them:
# the debug information goes into a file of its own named after the file's build ID
# (<packages>/<package>-<version>-debug/usr/lib/debug/.build-id/xx/rest.debug, where gdb and
# debuginfod look), then the symbols and the .comment and .note sections leave the file, and a
# debug link names the debug file. Shared libraries keep only what linking needs
# (--strip-unneeded).
# Runs as CPACK_PRE_BUILD_SCRIPTS; MORVANE_OBJCOPY, MORVANE_STRIP and MORVANE_READELF come
# from the project's CPack configuration.
set(debug_root
    ${CPACK_OUTPUT_FILE_PREFIX}/${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-debug/usr/lib/debug)
file(REMOVE_RECURSE ${debug_root})  # no symbols of an earlier package's files
file(GLOB_RECURSE files LIST_DIRECTORIES false ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*)
foreach(file IN LISTS files)
  if(IS_SYMLINK ${file})
    continue()
  endif()
  file(READ ${file} magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND ${MORVANE_READELF} -n ${file} OUTPUT_VARIABLE notes
                  COMMAND_ERROR_IS_FATAL ANY)
  if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "${file} has no build ID")
  endif()
  set(debug_file ${debug_root}/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug)
  get_filename_component(debug_dir ${debug_file} DIRECTORY)
  file(MAKE_DIRECTORY ${debug_dir})
  set(strip_options --remove-section=.comment --remove-section=.note)
  if(file MATCHES "\\.so(\\.[0-9]+)*$")
    list(APPEND strip_options --strip-unneeded)
  endif()
  execute_process(
    COMMAND ${MORVANE_OBJCOPY} --only-keep-debug --compress-debug-sections ${file} ${debug_file}
    COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${MORVANE_STRIP} ${strip_options} ${file} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${MORVANE_OBJCOPY} --add-gnu-debuglink=${debug_file} ${file}
                  COMMAND_ERROR_IS_FATAL ANY)
  file(CHMOD ${debug_file} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()

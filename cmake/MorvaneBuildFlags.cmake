# Flags that make the shipped files what a distribution ships.
#
# Reproducible: no build path enters an object file (-ffile-prefix-map: debug information,
# __FILE__ and the like name files relative to the source tree), so two builds of one commit in
# different folders give the same bytes. A Windows file carries no link time
# (--no-insert-timestamp).
#
# Hardened (Linux): Debian's default build flags as a package build gets them from
# dpkg-buildflags, with bind-now added (hardening=+all): _FORTIFY_SOURCE=2, the strong stack
# protector, format checks, relro and bind-now. Fortification needs optimisation, so a build
# without it (Debug) and the sanitizer and fuzz builds leave them out.
# The compilers map the later of two matching prefixes, so the build tree (perhaps inside the
# source tree) comes second.
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.;-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
  return()
endif()

find_program(MORVANE_DPKG_BUILDFLAGS dpkg-buildflags)
if(MORVANE_DPKG_BUILDFLAGS AND NOT MORVANE_SANITIZE AND NOT MORVANE_FUZZ
   AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(hardening_default ON)
else()
  set(hardening_default OFF)
endif()
option(MORVANE_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ${hardening_default})
if(NOT MORVANE_HARDENING)
  return()
endif()
if(NOT MORVANE_DPKG_BUILDFLAGS)
  message(FATAL_ERROR "MORVANE_HARDENING needs dpkg-buildflags (package dpkg-dev)")
endif()

# The flags as dpkg-buildflags gives them, less what the build type decides itself (-g, -O2)
# and the path maps above (which it would make from the current folder).
function(morvane_dpkg_buildflags name out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env
            "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
            ${MORVANE_DPKG_BUILDFLAGS} --get ${name}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g|O[0-9s]?)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()
morvane_dpkg_buildflags(CPPFLAGS cppflags)
morvane_dpkg_buildflags(CFLAGS cflags)
morvane_dpkg_buildflags(CXXFLAGS cxxflags)
morvane_dpkg_buildflags(LDFLAGS ldflags)
add_compile_options(${cppflags} "$<$<COMPILE_LANGUAGE:C>:${cflags}>"
                    "$<$<COMPILE_LANGUAGE:CXX>:${cxxflags}>")
add_link_options(${ldflags})
message(STATUS "Hardening: ${cppflags} ${cxxflags} ${ldflags}")

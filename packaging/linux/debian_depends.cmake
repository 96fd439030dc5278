# Part of the Debian package's CPack configuration (CPACK_PROJECT_CONFIG_FILE): Depends from
# the libraries that the programs and the adapter library link against, as dpkg-shlibdeps
# names their packages, and the packages the programs need at run time without linking
# (MORVANE_DEB_DEPENDS).
find_program(MORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps REQUIRED)
set(work ${CPACK_PACKAGE_DIRECTORY}/shlibdeps)
file(REMOVE_RECURSE ${work})
# dpkg-shlibdeps wants to run in a source package.
file(WRITE ${work}/debian/control "Source: ${CPACK_PACKAGE_NAME}\n\nPackage: ${CPACK_PACKAGE_NAME}\nArchitecture: any\n")
# (It warns that the files are not yet in a package's folder, which does not change its answer.)
execute_process(COMMAND ${MORVANE_DPKG_SHLIBDEPS} -O ${MORVANE_DEB_LINKED_FILES}
                WORKING_DIRECTORY ${work} RESULT_VARIABLE result
                OUTPUT_VARIABLE substvars OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_VARIABLE errors)
if(NOT result EQUAL 0 OR NOT substvars MATCHES "shlibs:Depends=([^\n]*)")
  message(FATAL_ERROR "dpkg-shlibdeps gave no dependencies: ${substvars}${errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}, ${MORVANE_DEB_DEPENDS}")

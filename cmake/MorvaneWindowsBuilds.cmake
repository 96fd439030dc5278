# The Windows programs as part of this build: when the mingw-w64 cross compilers are installed,
# this source tree is built once more for each Windows architecture, as a tree of its own under
# <build>/windows-<arch> (the same configuration as the presets windows-<arch>). Every build of
# this tree rebuilds what changed there too.
#
# Each Windows tree lists its deliverables in <tree>/deliverables.txt (loader.exe when the window
# program is part of it, loader-cli.exe, cibridge.dll); when this build has tests, each tree
# also builds the stand-ins for setupapi.dll and winusb.dll over the emulated adapter
# (sim/windows), which the Wine tests run that tree's programs against: x86_64 under this
# machine's Wine, i686 under the i386 root's (scripts/i686-root).
#
# Sets MORVANE_WINDOWS_TREES (list of tree directories) and MORVANE_WINDOWS_TARGETS (the targets
# that build them); both are empty when the Windows programs are not built.
set(MORVANE_WINDOWS_TREES "")
set(MORVANE_WINDOWS_TARGETS "")
set(MORVANE_WINDOWS_ARCHITECTURES x86_64 i686)

foreach(arch ${MORVANE_WINDOWS_ARCHITECTURES})
  find_program(MORVANE_MINGW_CXX_${arch} ${arch}-w64-mingw32-g++-posix)
endforeach()
if(MORVANE_MINGW_CXX_x86_64 AND MORVANE_MINGW_CXX_i686)
  set(mingw_found ON)
else()
  set(mingw_found OFF)
endif()
# The sanitizer build leaves them out: mingw-w64 has no sanitizers, so the Windows files and
# their tests would be the default build's, byte for byte, built and run a second time.
if(MORVANE_SANITIZE)
  set(MORVANE_WINDOWS OFF)
  message(STATUS "Left out: the Windows programs and their tests (a sanitizer build)")
  return()
endif()
morvane_feature(MORVANE_WINDOWS "${mingw_found}" "the mingw-w64 cross compilers (posix variants)"
                "the Windows programs and their tests under Wine")
if(NOT MORVANE_WINDOWS)
  return()
endif()

include(ExternalProject)
set(previous "")
foreach(arch ${MORVANE_WINDOWS_ARCHITECTURES})
  set(tree ${CMAKE_BINARY_DIR}/windows-${arch})
  if(MORVANE_BUILD_TESTS)
    set(standins ON)
  else()
    set(standins OFF)
  endif()
  ExternalProject_Add(windows-${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${tree}
    PREFIX ${CMAKE_BINARY_DIR}/windows-trees
    STAMP_DIR ${CMAKE_BINARY_DIR}/windows-trees/${arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-${arch}.cmake
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
      -DMORVANE_WARNINGS_AS_ERRORS=${MORVANE_WARNINGS_AS_ERRORS}
      -DMORVANE_CCACHE_SHARED=${MORVANE_CCACHE_SHARED}
      -DMORVANE_BUILD_TESTS=OFF
      -DMORVANE_BUILD_BENCHMARKS=OFF
      -DMORVANE_WINDOWS_STANDINS=${standins}
    LIST_SEPARATOR |
    # The tree's own build decides what is out of date.
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    # One tree after the other: the machine's cores serve one Ninja at a time.
    DEPENDS ${previous})
  set(previous windows-${arch})
  list(APPEND MORVANE_WINDOWS_TREES ${tree})
  list(APPEND MORVANE_WINDOWS_TARGETS windows-${arch})
endforeach()

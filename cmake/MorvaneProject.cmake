# Who makes and maintains the updater, in one place: the Debian package's Maintainer and
# Homepage, its copyright file, the AppStream metainfo, the Windows files' version resources
# and the setups' uninstall entry all take these. The version is the project's own
# (project(... VERSION) in the top CMakeLists.txt).
set(MORVANE_PRODUCT_NAME "Morvane Loader")
set(MORVANE_PUBLISHER "Morvane")
set(MORVANE_PACKAGE_MAINTAINER "Morvane Loader maintainers <loader@morvane.org>")
set(MORVANE_PROJECT_HOMEPAGE "https://www.morvane.org/loader/")
set(MORVANE_COPYRIGHT_YEARS "2026")
set(MORVANE_COPYRIGHT_HOLDER "The Morvane Loader authors")

# cmake -DVERSION=<project version> -DSOURCE=<source tree> -P check-version.cmake
#
# The version is written once, in project(); the documents that cannot be generated from it
# must name the same one: the README's first lines and the newest entry of the Debian changelog.
file(STRINGS ${SOURCE}/debian/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^qz \\(([^)]+)\\) ")
  message(FATAL_ERROR "debian/changelog: no version in its first line: ${newest}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "debian/changelog names ${CMAKE_MATCH_1}, the project is ${VERSION}")
endif()

file(STRINGS ${SOURCE}/README.md readme LIMIT_COUNT 16)
string(REGEX MATCH "version [0-9]+\\.[0-9]+\\.[0-9]+" named "${readme}")
if(NOT named STREQUAL "version ${VERSION}")
  message(FATAL_ERROR "README.md names '${named}' in its first lines, the project is ${VERSION}")
endif()

file(STRINGS ${SOURCE}/CHANGELOG.md changes REGEX "^## ")
list(GET changes 0 latest)
if(NOT latest MATCHES "^## ${VERSION}( |$)")
  message(FATAL_ERROR "CHANGELOG.md: the newest entry is '${latest}', the project is ${VERSION}")
endif()

# What the Debian package adds to `cmake --install`, and CPack's settings for
# it. scripts/package.sh configures, builds and runs cpack; see docs/development.md.

set(ORVANE_HOMEPAGE "https://fenwright.example/orvane" CACHE STRING "The project's web page")
set(ORVANE_SCREENSHOT_URL "${ORVANE_HOMEPAGE}/screenshots" CACHE STRING
    "Where docs/*.png are published, for the AppStream metainfo")
set(ORVANE_GENERATED ${CMAKE_BINARY_DIR}/generated)

# The release date: that of the commit built, or today's outside a checkout.
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%cs WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE ORVANE_RELEASE_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT ORVANE_RELEASE_DATE MATCHES "^[0-9]+-[0-9]+-[0-9]+$")
  string(TIMESTAMP ORVANE_RELEASE_DATE "%Y-%m-%d" UTC)
endif()
configure_file(data/orvane.metainfo.xml.in ${ORVANE_GENERATED}/com.fenwright.orvane.metainfo.xml @ONLY)
install(FILES ${ORVANE_GENERATED}/com.fenwright.orvane.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages: the version in their header comes from the project, and they
# are installed compressed, as Debian expects.
find_program(ORVANE_GZIP gzip REQUIRED)
foreach(page orvane.1 orvane-sim.1)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/${page})
  file(READ ${CMAKE_SOURCE_DIR}/docs/${page} text)
  string(REGEX REPLACE "\"Orvane [^\"]*\"" "\"Orvane ${PROJECT_VERSION}\"" text "${text}")
  file(WRITE ${ORVANE_GENERATED}/man/${page} "${text}")
  execute_process(COMMAND ${ORVANE_GZIP} -9nf ${ORVANE_GENERATED}/man/${page})
  install(FILES ${ORVANE_GENERATED}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Debian's version: "1.1" for a tagged release, "1.1+12.gabc1234" after it
# (a hyphen would start a Debian revision).
string(REGEX REPLACE "^([^-]*)-(.*)$" "\\1+\\2" ORVANE_DEB_VERSION "${ORVANE_VERSION_FULL}")
string(REPLACE "-" "." ORVANE_DEB_VERSION "${ORVANE_DEB_VERSION}")
set(ORVANE_MAINTAINER "Fenwright <orvane@fenwright.example>" CACHE STRING "The package's maintainer")

# Debian's copyright file and changelog, for the package only.
set(ORVANE_DEB_DOC ${ORVANE_GENERATED}/deb-doc)
configure_file(data/debian-copyright ${ORVANE_DEB_DOC}/copyright COPYONLY)
string(REGEX REPLACE "^([0-9]+)-([0-9]+)-([0-9]+)$" "\\1\\2\\3" ORVANE_RELEASE_DAY "${ORVANE_RELEASE_DATE}")
execute_process(COMMAND date -u -R -d "${ORVANE_RELEASE_DAY}" OUTPUT_VARIABLE ORVANE_CHANGELOG_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE)
file(WRITE ${ORVANE_DEB_DOC}/changelog
  "orvane (${ORVANE_DEB_VERSION}) unstable; urgency=medium\n\n"
  "  * Orvane ${ORVANE_VERSION_FULL}, built against Qt ${ORVANE_QT}.\n\n"
  " -- ${ORVANE_MAINTAINER}  ${ORVANE_CHANGELOG_DATE}\n")
execute_process(COMMAND ${ORVANE_GZIP} -9nf ${ORVANE_DEB_DOC}/changelog)
install(FILES ${ORVANE_DEB_DOC}/copyright ${ORVANE_DEB_DOC}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvane COMPONENT debian EXCLUDE_FROM_ALL)

# The package: what `cmake --install` lays out (less the copy of Qt's
# catalogues: it recommends the system's), plus the files above.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${ORVANE_DEB_VERSION})
set(CPACK_PACKAGE_CONTACT "${ORVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "front end for an ultra-wideband positioning kit")
# CPack puts the summary above this as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvane talks to the master module of an ultra-wideband (UWB) positioning kit
on a serial port, averages or filters the distances it reports, solves the
tags' positions by least squares and shows anchors, tags, distance circles,
rate and speed on a chart, optionally over a calibrated floor plan. It
configures the kit, saves and loads its setup, records and replays sessions,
exports positions as CSV and publishes them over MQTT. The user interface is
German.
.
The package also holds orvane-sim, a stand-in for the master module on a
pseudo-terminal, to try the program without the kit.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Orvane;Unspecified;/;${CMAKE_BINARY_DIR};Orvane;debian;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ORVANE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(ORVANE_QT STREQUAL "6")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
else()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qttranslations5-l10n)
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS mosquitto-clients)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

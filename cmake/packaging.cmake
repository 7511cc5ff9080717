# Install rules and Debian packages (cpack -G DEB). The install components
# are the packages:
#   runtime  libqrxc1       the shared library
#   dev      libqrxc-dev    header, CMake package, pkg-config file, .so link
#   cli      qrx            the command-line tool, its man page and completion
#   gui      qrxconvertor   the dialog, its desktop entry, icons and MIME type
#   gstreamer gstreamer1.0-qrxc  the GStreamer plugin
# An installed tree works at any prefix: the programs find the library
# through a RUNPATH relative to themselves, the CMake and pkg-config files
# through paths relative to their own place.
include(CMakePackageConfigHelpers)

file(RELATIVE_PATH QRXC_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
foreach(program qrx QRXConvertor)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${QRXC_BIN_TO_LIB}")
  endif()
endforeach()

install(TARGETS qrxc EXPORT qrxcTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT qrxcTargets NAMESPACE qrxc:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qrxc COMPONENT dev)
configure_package_config_file(cmake/qrxcConfig.cmake.in
  ${PROJECT_BINARY_DIR}/qrxcConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qrxc)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/qrxcConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/qrxcConfig.cmake ${PROJECT_BINARY_DIR}/qrxcConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/qrxc COMPONENT dev)

set(QRXC_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QRXC_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" QRXC_PC_TO_PREFIX "${QRXC_PC_TO_PREFIX}")
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QRXC_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QRXC_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(cmake/qrxc.pc.in ${PROJECT_BINARY_DIR}/qrxc.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qrxc.pc DESTINATION ${QRXC_PC_DIR} COMPONENT dev)

# ---- Debian packages ----
set(QRXC_PACKAGE_CONTACT "qrxc developers <qrxc@example.org>" CACHE STRING "Maintainer of the Debian packages")
set(QRXC_RELEASE_DATE "Tue, 08 Dec 2026 12:00:00 +0000" CACHE STRING "Date of the Debian changelog entry (RFC 2822)")

set(QRXC_DEB_COMPONENTS runtime dev)
if(TARGET qrx)
  list(APPEND QRXC_DEB_COMPONENTS cli)
endif()
if(TARGET QRXConvertor)
  list(APPEND QRXC_DEB_COMPONENTS gui)
endif()
if(TARGET gstqrxc)
  list(APPEND QRXC_DEB_COMPONENTS gstreamer)
endif()
set(QRXC_DEB_NAME_runtime libqrxc1)
set(QRXC_DEB_NAME_dev libqrxc-dev)
set(QRXC_DEB_NAME_cli qrx)
set(QRXC_DEB_NAME_gui qrxconvertor)
set(QRXC_DEB_NAME_gstreamer gstreamer1.0-qrxc)

set(CPACK_PACKAGE_NAME qrxc)
set(CPACK_PACKAGE_VERSION ${qrxc_VERSION})
set(CPACK_PACKAGE_VENDOR "qrxc developers")
set(CPACK_PACKAGE_CONTACT "${QRXC_PACKAGE_CONTACT}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${QRXC_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies from dpkg-shlibdeps; libqrxc itself, not yet
# installed while packaging, comes in as the exact version built with it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
# Programs built against this library need this version or a later 1.x.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The loader cache is refreshed through libc's trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "speech codec library for QRX voice files
qrxc encodes 16-bit mono PCM into QRX voice streams and decodes them again:
G.723.1 at 5.3 and 6.3 kbit/s and ADPCM at 3, 4 and 5 bits per sample, with a
playback speed control and voice effects for decoded speech.

This package contains the shared library.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "speech codec library for QRX voice files - development files
qrxc encodes 16-bit mono PCM into QRX voice streams and decodes them again.

This package contains the C header, the CMake package (find_package(qrxc))
and the pkg-config file.")
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_CLI_DESCRIPTION "command-line tool for QRX voice files
qrx decodes QRX voice files to WAV, encodes WAV files to QRX, shows a
file's header and frame count, and changes the playback speed or applies
voice effects.")
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_GUI_DESCRIPTION "desktop converter from QRX voice files to WAV
QRXConvertor is a small Qt dialog that converts a QRX voice file into a PCM
WAV file beside it. It registers the audio/x-qrx file type, so file
managers open QRX files with it.")
set(CPACK_DEBIAN_GSTREAMER_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_GSTREAMER_DESCRIPTION "GStreamer plugin for QRX voice files and G.723.1
The qrxc plugin lets every GStreamer application play and write QRX voice
files and code G.723.1 at 5.3 and 6.3 kbit/s: a typefinder for QRX files,
the qrxdemux demuxer, the qrxdec and g723dec decoders, and the g723enc and
qrxenc encoders. g723enc links to rtpg723pay, g723dec to rtpg723depay.")

include(CPackComponent)
foreach(component ${QRXC_DEB_COMPONENTS})
  string(TOUPPER ${component} COMPONENT)
  set(package ${QRXC_DEB_NAME_${component}})
  set(CPACK_DEBIAN_${COMPONENT}_PACKAGE_NAME ${package})
  if(NOT component STREQUAL "runtime")
    cpack_add_component(${component} DEPENDS runtime)
  else()
    cpack_add_component(${component})
  endif()
  # Debian wants the licence and a changelog in every package's doc folder.
  set(docdir ${CMAKE_INSTALL_DATADIR}/doc/${package})
  install(FILES LICENSE DESTINATION ${docdir} RENAME copyright COMPONENT ${component})
  set(QRXC_DEB_PACKAGE ${package})
  set(QRXC_DEB_VERSION ${qrxc_VERSION})
  configure_file(cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/${package}/changelog @ONLY)
  execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/debian/${package}/changelog RESULT_VARIABLE gzip_failed)
  if(NOT gzip_failed)
    install(FILES ${PROJECT_BINARY_DIR}/debian/${package}/changelog.gz DESTINATION ${docdir} COMPONENT ${component})
  endif()
endforeach()
# Man pages go out compressed, as Debian requires, whichever rule
# installed them; this runs after every other install rule.
set(QRXC_COMPRESS_MAN_PAGES [[
  file(GLOB_RECURSE qrxc_man_pages "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@MANDIR@/*.[1-9]")
  foreach(page IN LISTS qrxc_man_pages)
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
]])
string(REPLACE "@MANDIR@" "${CMAKE_INSTALL_MANDIR}" QRXC_COMPRESS_MAN_PAGES "${QRXC_COMPRESS_MAN_PAGES}")
install(CODE "${QRXC_COMPRESS_MAN_PAGES}" ALL_COMPONENTS)
include(CPack)

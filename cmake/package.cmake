# The Debian package (CPack): the VST 2.x plug-in, the VST 3 and LV2 bundles and the tool with its manual page,
# laid out as a system install under /usr. `make release` configures a build of its own for it
# (LUMISERE_INSTALL_LAYOUT=system, LUMISERE_DEBIAN_DOCS=ON).
option(LUMISERE_DEBIAN_DOCS "Install the copyright file and changelog a Debian package carries" OFF)

set(LUMISERE_PACKAGE_NAME ostrel-lumisere)
if(LUMISERE_DEBIAN_DOCS)
  set(doc_dir share/doc/${LUMISERE_PACKAGE_NAME})
  string(TIMESTAMP LUMISERE_RELEASE_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian-changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
    COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/package/changelog > ${CMAKE_BINARY_DIR}/package/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/package/changelog VERBATIM)
  add_custom_target(lumisere_package_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
    DESTINATION ${doc_dir} COMPONENT tool)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${LUMISERE_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Ostrel Audio")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Ostrel Audio <support@ostrel-audio.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "de-esser and hiss reducer plug-in (VST 2.x, VST 3, CLAP and LV2)")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Ostrel Lumisere tames harsh sibilance in voice recordings and lowers the
hiss between phrases: a split-band de-esser on a movable focus band
(4 to 11 kHz), a broadband hiss gate, an air band, and an output stage
with trim and dry/wet mix.
.
This package holds the VST 2.x plug-in (/usr/lib/vst/Lumisere.so), the
VST 3 plug-in (/usr/lib/vst3/Lumisere.vst3), the CLAP plug-in
(/usr/lib/clap/Lumisere.clap), the LV2 plug-in (/usr/lib/lv2/Lumisere.lv2)
with its X11 editor, and the lumisere command-line tool, which renders
audio files through the plug-in.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ostrel-audio.example/lumisere")
# The libraries the binaries link (libsndfile, Cairo, X11, the C library) found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

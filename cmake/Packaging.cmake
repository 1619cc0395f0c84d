# Installing and packaging. Each program installs itself where it is defined
# (src/CMakeLists.txt, tools/<tool>.cmake: one install(TARGETS) line each);
# this adds the README, the man page and the bundled demo, and describes the
# Debian package that `cpack -G DEB` makes in the build folder.
#   cmake --install build --prefix /tmp/tolvane
#   (cd build && cpack -G DEB)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/demo DESTINATION ${CMAKE_INSTALL_DATADIR}/tolvane/examples)

# Man pages are installed compressed; -n keeps the archive free of a time
# stamp, so that two builds make the same package.
set(MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/tolvane.1.gz)
add_custom_command(OUTPUT ${MAN_PAGE}
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/doc/tolvane.1 > ${MAN_PAGE}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/tolvane.1
    VERBATIM)
add_custom_target(man_page ALL DEPENDS ${MAN_PAGE})
install(FILES ${MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_CONTACT "Tolvane developers <tolvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time demo player driven by sync tracks")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Plays one tune and draws a full-screen fragment shader whose uniforms follow keyframed sync tracks, "
    "in step with the music; in editing mode it links to a sync tracker editor. Includes tolvane-capture, "
    "which renders a demo offscreen to frames or a video, and a bundled example demo.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The Depends line comes from the libraries the programs are linked with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# tolvane-capture --video runs ffmpeg.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS ffmpeg)
include(CPack)

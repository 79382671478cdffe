# Install layout and the Debian package.
#
# The program finds its help file beside its own executable, so both live in a folder of
# their own, lib/varnolt, and bin/Varnolt is a symbolic link to the program there (the program
# resolves the link to find its folder). The tools are ordinary commands in bin.
set(VARNOLT_PROGRAM_DIR lib/varnolt)

install(TARGETS Varnolt RUNTIME DESTINATION ${VARNOLT_PROGRAM_DIR})
install(FILES ${VARNOLT_HELP_FILE} DESTINATION ${VARNOLT_PROGRAM_DIR})
install(CODE "set(VARNOLT_PROGRAM_DIR \"${VARNOLT_PROGRAM_DIR}\")")
install(CODE [[
    set(bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
    file(MAKE_DIRECTORY "${bin}")
    file(REMOVE "${bin}/Varnolt")
    file(CREATE_LINK "../${VARNOLT_PROGRAM_DIR}/Varnolt" "${bin}/Varnolt" SYMBOLIC)
    message(STATUS "Installing: ${bin}/Varnolt -> ../${VARNOLT_PROGRAM_DIR}/Varnolt")
]])
install(TARGETS lumetra-rm scopesim varnolt-record RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/resources/bash-completion/lumetra-rm
    ${PROJECT_SOURCE_DIR}/resources/bash-completion/varnolt-record
    DESTINATION share/bash-completion/completions)
# One recorder per instrument, as a service of the user whose preferences it reads.
install(FILES ${PROJECT_SOURCE_DIR}/record/varnolt-record@.service
    DESTINATION lib/systemd/user)
install(FILES ${PROJECT_SOURCE_DIR}/resources/varnolt.svg
    DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/resources/varnolt.desktop DESTINATION share/applications)

include(${CMAKE_CURRENT_LIST_DIR}/ManPages.cmake)

# The package's copyright file and its changelog, compressed as Debian wants it: the most
# compression, and no name or time stamp in the header, so that a rebuild makes the same bytes.
set(VARNOLT_CHANGELOG_GZ ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${VARNOLT_CHANGELOG_GZ}
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog > ${VARNOLT_CHANGELOG_GZ}
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
    COMMENT "Compressing the changelog")
add_custom_target(package_docs ALL DEPENDS ${VARNOLT_CHANGELOG_GZ})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${VARNOLT_CHANGELOG_GZ}
    DESTINATION share/doc/varnolt)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnolt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(VARNOLT_CONTACT "Varnolt developers <varnolt-devel@lists.example.org>")
set(CPACK_PACKAGE_VENDOR "Varnolt developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "unattended recorder for digital storage oscilloscopes")
# Lines of the long description stay within the width dpkg shows.
set(CPACK_PACKAGE_DESCRIPTION [[
After every trigger Varnolt has the instrument save its waveforms (ISF,
CSV) and a picture of its screen to its own drive, driven by SCPI-style
text commands. The package also holds lumetra-rm, the Lumetra Resource
Manager, and scopesim, a simulated instrument to try the program with.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VARNOLT_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps; the Qt plug-ins they load at run
# time it cannot see: the window system (qt6-qpa-plugins), TIFF pictures of the simulated
# instrument (qt6-image-formats-plugins) and the SVG program icon (libqt6svg6).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-image-formats-plugins, libqt6svg6, fonts-liberation2")
# Help opens in a browser that shows MHTML files.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium")
include(CPack)

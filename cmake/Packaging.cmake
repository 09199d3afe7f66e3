# Installation and the Debian package. `cmake --install` puts the programs meant for users
# in bin/ (each program's folder adds its own `install(TARGETS ...)` line) and the licence
# in share/doc/veltora-updater/; `cpack -G DEB` in the build folder packs that tree.
set(UPDATER_PACKAGE_NAME veltora-updater)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${UPDATER_PACKAGE_NAME})

set(CPACK_PACKAGE_NAME ${UPDATER_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Veltora")
set(CPACK_PACKAGE_CONTACT "Veltora <updater@veltora.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Updater for an installed Veltora music-software product")
set(CPACK_PACKAGE_DESCRIPTION
    "Asks the resources server for the latest release of a product, downloads and checks its \
installer, runs it silently and starts the updated product again.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries the programs link are found by dpkg-shlibdeps. What they use without
# linking it is named here: JUCE opens the X11 libraries itself when it makes a window
# (libX11 and libXext are required, the others used when present) and finds its fonts
# through fontconfig's fonts.conf (fontconfig-config brings it and a font). The CAs that
# https servers are checked against come from ca-certificates, recommended as Debian's TLS
# clients do: plain http servers need none.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libx11-6, libxext6, libxcursor1, libxinerama1, libxrandr2, fontconfig-config")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")
include(CPack)

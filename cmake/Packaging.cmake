# Installation as Linux users expect it: the executable, a desktop entry with its icon and the
# movie types it opens, a man page; `cpack -G DEB` makes a Debian package.
include(GNUInstallDirs)
install(FILES "${CMAKE_SOURCE_DIR}/packaging/quenda-video-repair.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${CMAKE_SOURCE_DIR}/packaging/quenda-video-repair.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
install(FILES "${CMAKE_SOURCE_DIR}/packaging/quenda-video-repair.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

set(CPACK_PACKAGE_NAME "quenda-video-repair")
set(CPACK_PACKAGE_VENDOR "Quenda")
set(CPACK_PACKAGE_CONTACT "support@quenda.invalid")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Repair damaged MOV, MP4, M4V and AVI movies")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies come from the linked libraries themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "vlc")
# Users get the stripped executable; the debugging information stays in the build tree.
set(CPACK_STRIP_FILES ON)
include(CPack)

# Installing like a desktop program, and the Debian package (`make package`).
# One reverse-DNS id names the desktop entry, the icon, the AppStream component and the
# application's desktop file name (TApplication).
include(GNUInstallDirs)

set(ONDRIX_APP_ID io.github.ondrix.Ondrix3)
set(ONDRIX_SCREENSHOT_BASE "https://raw.githubusercontent.com/ondrix/ondrix3/main/docs" CACHE STRING
    "Where the screenshots named by the AppStream metainfo are published")
set(ONDRIX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(ONDRIX_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)

configure_file(${ONDRIX_PACKAGING_DIR}/${ONDRIX_APP_ID}.metainfo.xml.in
    ${ONDRIX_PACKAGING_OUT}/${ONDRIX_APP_ID}.metainfo.xml @ONLY)
# Debian wants the changelog and manual page compressed, without a time stamp in the header.
foreach(name changelog ondrix.1)
    execute_process(COMMAND gzip -9 -n -c ${ONDRIX_PACKAGING_DIR}/${name}
        OUTPUT_FILE ${ONDRIX_PACKAGING_OUT}/${name}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()

install(FILES ${ONDRIX_PACKAGING_DIR}/${ONDRIX_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ONDRIX_PACKAGING_OUT}/${ONDRIX_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 256)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/ondrix-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME ${ONDRIX_APP_ID}.png)
endforeach()
install(FILES ${ONDRIX_PACKAGING_OUT}/ondrix.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ONDRIX_PACKAGING_DIR}/copyright ${ONDRIX_PACKAGING_OUT}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ondrix)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ondrix)
set(CPACK_PACKAGE_VENDOR "The Ondrix 3 authors")
set(CPACK_PACKAGE_CONTACT "Ondrix 3 maintainers <info@ondrix.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small skinned music player")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Ondrix 3 plays MP3, FLAC, Ogg Vorbis, Opus, M4A (AAC, ALAC), WMA and WAV\n"
    "files one after another from a play list, names each track by the\n"
    "artist and title of its tags, and keeps the\n"
    "list in a text file in the folder it was started in. It has a playlist\n"
    "editor, hides to the tray, and shows version information from the maker's\n"
    "server.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ONDRIX_SERVER_URL}/")
# The libraries the binary and its modules link come from dpkg-shlibdeps; these are
# loaded at run time (the Qt platform plugins, libcurl on the first download) or only named by
# the skins, so no linker sees them. The downloads set CURLOPT_PROTOCOLS_STR, new in 7.85.0:
# an older libcurl would refuse every download.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-wayland, libcurl4 (>= 7.85.0), fonts-liberation2 | fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
include(CPack)

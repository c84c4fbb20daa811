# The bundle's web shortcuts, written from app/pages.h so that the
# addresses live in one place, and the install rules: the bundle under
# lib/quillaby, a `quillaby` launcher in bin and a desktop entry (the icons
# are installed by cmake/icons.cmake).

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/app/pages.h)
file(STRINGS ${CMAKE_SOURCE_DIR}/app/pages.h QZ_PAGE_LINES REGEX "PageURL\\[\\] = \"")
foreach(line ${QZ_PAGE_LINES})
    if(line MATCHES "k([A-Za-z]+)PageURL\\[\\] = \"([^\"]+)\"")
        set(QZ_PAGE_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    endif()
endforeach()
foreach(page AppStore Donation)
    if(NOT QZ_PAGE_${page})
        message(FATAL_ERROR "app/pages.h has no k${page}PageURL")
    endif()
endforeach()
file(CONFIGURE OUTPUT "${QZ_RESOURCES_DIR}/Quillaby WebPage AppStore.url"
    CONTENT "[InternetShortcut]\r\nURL=${QZ_PAGE_AppStore}\r\n")
file(CONFIGURE OUTPUT "${QZ_RESOURCES_DIR}/Quillaby Donations.url"
    CONTENT "[InternetShortcut]\r\nURL=${QZ_PAGE_Donation}\r\n")

include(GNUInstallDirs)
install(DIRECTORY ${QZ_BUNDLE_DIR} DESTINATION ${CMAKE_INSTALL_LIBDIR}/quillaby USE_SOURCE_PERMISSIONS)

# The launcher finds the bundle relative to itself, so the tree can move.
file(RELATIVE_PATH QZ_BIN_TO_BUNDLE /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR}/quillaby)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/launcher/quillaby @ONLY CONTENT [=[#!/bin/sh
# Starts Quillaby from its bundle.
here=$(dirname "$(readlink -f "$0")")
exec "$here/@QZ_BIN_TO_BUNDLE@/Quillaby.app/Contents/MacOS/Quillaby" "$@"
]=])
install(PROGRAMS ${CMAKE_BINARY_DIR}/launcher/quillaby DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/platform/desktop/quillaby.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The forced command for a restricted key on a Mac watched over ssh, to be
# copied to that Mac.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/quillaby-ssh-command DESTINATION ${CMAKE_INSTALL_DATADIR}/quillaby)

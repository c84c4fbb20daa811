# The bundle's web shortcuts, written from app/pages.h so that the
# addresses live in one place, and the install rules: the bundle under
# lib/quillaby, the `quillaby` and `quillaby-report` launchers in bin, the
# desktop entry, AppStream metadata, manual page and bash completion (the
# icons are installed by cmake/icons.cmake).

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

# The launchers find the bundle relative to themselves, so the tree can move:
# `quillaby` (the window) and `quillaby-report` (the report command) on PATH.
file(RELATIVE_PATH QZ_BIN_TO_BUNDLE /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR}/quillaby)
foreach(launcher quillaby:Quillaby quillaby-report:quillaby-report)
    string(REPLACE ":" ";" launcher ${launcher})
    list(GET launcher 0 QZ_LAUNCHER)
    list(GET launcher 1 QZ_EXECUTABLE)
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/launcher/${QZ_LAUNCHER} @ONLY CONTENT [=[#!/bin/sh
# Starts @QZ_EXECUTABLE@ from the Quillaby bundle.
here=$(dirname "$(readlink -f "$0")")
exec "$here/@QZ_BIN_TO_BUNDLE@/Quillaby.app/Contents/MacOS/@QZ_EXECUTABLE@" "$@"
]=])
    install(PROGRAMS ${CMAKE_BINARY_DIR}/launcher/${QZ_LAUNCHER} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# The desktop's own files: the desktop entry (StartupWMClass is the class
# Qt gives the main window), the AppStream metadata that software centres
# read, the report command's manual page (made by pandoc, which the help
# needs anyway) and its bash completion, where bash-completion looks.
set(QZ_DESKTOP ${CMAKE_SOURCE_DIR}/platform/desktop)
install(FILES ${QZ_DESKTOP}/quillaby.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${QZ_DESKTOP}/quillaby.metainfo.xml.in
    ${CMAKE_BINARY_DIR}/desktop/software.fernhollow.quillaby.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/desktop/software.fernhollow.quillaby.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(QZ_MAN_PAGE ${CMAKE_BINARY_DIR}/desktop/quillaby-report.1)
add_custom_command(OUTPUT ${QZ_MAN_PAGE}
    COMMAND ${QZ_PANDOC} --standalone --to man "--metadata=footer:Quillaby ${PROJECT_VERSION}"
        --output ${QZ_MAN_PAGE} ${QZ_DESKTOP}/quillaby-report.1.md
    DEPENDS ${QZ_DESKTOP}/quillaby-report.1.md
    COMMENT "Making the manual page quillaby-report(1)"
    VERBATIM)
add_custom_target(quillaby_man ALL DEPENDS ${QZ_MAN_PAGE})
install(FILES ${QZ_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QZ_DESKTOP}/quillaby-report.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME quillaby-report)
# The forced command for a restricted key on a Mac watched over ssh, to be
# copied to that Mac.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/quillaby-ssh-command DESTINATION ${CMAKE_INSTALL_DATADIR}/quillaby)

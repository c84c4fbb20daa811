# The application icon: drawn once as SVG, rendered to PNG at build time.
# The bundle gets "Quillaby Icon.png" (the about window shows it) and the
# drawing as "Quillaby Icon.svg" (the status icon's states); the
# install tree gets the hicolor theme sizes and the scalable drawing, so
# desktop menus and docks find the icon by the name "quillaby".
include(GNUInstallDirs)
find_program(QZ_RSVG_CONVERT rsvg-convert REQUIRED)

set(QZ_ICON_SVG ${CMAKE_SOURCE_DIR}/art/quillaby-icon.svg)
set(QZ_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(QZ_ICON_SIZES 16 22 24 32 48 64 128 256 512)

set(QZ_ICON_BUNDLE_PNG "${QZ_RESOURCES_DIR}/Quillaby Icon.png")
add_custom_command(OUTPUT ${QZ_ICON_BUNDLE_PNG}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QZ_RESOURCES_DIR}
    COMMAND ${QZ_RSVG_CONVERT} --width 256 --height 256 --output ${QZ_ICON_BUNDLE_PNG} ${QZ_ICON_SVG}
    DEPENDS ${QZ_ICON_SVG}
    COMMENT "Rendering Quillaby Icon.png"
    VERBATIM)
set(QZ_ICON_OUTPUTS ${QZ_ICON_BUNDLE_PNG})
# The status icon is drawn from the drawing itself, crisp at every size.
configure_file(${QZ_ICON_SVG} "${QZ_RESOURCES_DIR}/Quillaby Icon.svg" COPYONLY)

foreach(size ${QZ_ICON_SIZES})
    set(png ${QZ_ICON_DIR}/${size}x${size}/quillaby.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QZ_ICON_DIR}/${size}x${size}
        COMMAND ${QZ_RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${QZ_ICON_SVG}
        DEPENDS ${QZ_ICON_SVG}
        VERBATIM)
    list(APPEND QZ_ICON_OUTPUTS ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${QZ_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME quillaby.svg)

add_custom_target(quillaby_icons ALL DEPENDS ${QZ_ICON_OUTPUTS})

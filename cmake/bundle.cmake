# The Mac bundle's Info.plist and icon. Both are made on every platform, in
# the build tree, so that the tests check them here too; on Apple the
# Quillaby target becomes Quillaby.app with them (CMake's MACOSX_BUNDLE)
# and the program links the frameworks of its Apple-only source.
set(QZ_BUNDLE_IDENTIFIER software.fernhollow.quillaby)
set(QZ_MACOS_MINIMUM 10.13 CACHE STRING "The oldest macOS the bundle declares (LSMinimumSystemVersion)")
set(QZ_MACOS_BUILD_DIR ${CMAKE_BINARY_DIR}/macos)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Info.plist.in ${QZ_MACOS_BUILD_DIR}/Info.plist @ONLY)

# The icon: an iconset of the sizes a Mac draws, rendered from the SVG. A
# Mac packs it with iconutil; elsewhere icnsutils' png2icns packs the
# sizes it has a type for (all but 64 pixels).
set(QZ_ICONSET ${QZ_MACOS_BUILD_DIR}/Quillaby.iconset)
set(QZ_ICONSET_FILES)
set(QZ_PNG2ICNS_FILES)
foreach(entry 16:16x16 32:16x16@2x 32:32x32 64:32x32@2x 128:128x128 256:128x128@2x 256:256x256
        512:256x256@2x 512:512x512 1024:512x512@2x)
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 px)
    list(GET entry 1 name)
    set(png ${QZ_ICONSET}/icon_${name}.png)
    add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QZ_ICONSET}
        COMMAND ${QZ_RSVG_CONVERT} --width ${px} --height ${px} --output ${png} ${QZ_ICON_SVG}
        DEPENDS ${QZ_ICON_SVG}
        VERBATIM)
    list(APPEND QZ_ICONSET_FILES ${png})
    if(NOT name MATCHES "@2x" OR px EQUAL 1024)
        list(APPEND QZ_PNG2ICNS_FILES ${png})
    endif()
endforeach()
if(APPLE)
    set(QZ_ICNS ${QZ_RESOURCES_DIR}/Quillaby.icns)
    set(QZ_INFO_PLIST ${QZ_BUNDLE_DIR}/Contents/Info.plist)
    find_program(QZ_ICONUTIL iconutil REQUIRED)
    set(QZ_PACK_ICNS ${QZ_ICONUTIL} --convert icns --output ${QZ_ICNS} ${QZ_ICONSET})
else()
    set(QZ_ICNS ${QZ_MACOS_BUILD_DIR}/Quillaby.icns)
    set(QZ_INFO_PLIST ${QZ_MACOS_BUILD_DIR}/Info.plist)
    find_program(QZ_PNG2ICNS png2icns REQUIRED)
    # png2icns names every type it picks; only a failure is worth reading.
    set(QZ_PACK_ICNS sh -c "exec \"$0\" \"$@\" >/dev/null" ${QZ_PNG2ICNS} ${QZ_ICNS} ${QZ_PNG2ICNS_FILES})
endif()
get_filename_component(QZ_ICNS_DIR ${QZ_ICNS} DIRECTORY)
add_custom_command(OUTPUT ${QZ_ICNS}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QZ_ICNS_DIR}
    COMMAND ${QZ_PACK_ICNS}
    DEPENDS ${QZ_ICONSET_FILES}
    COMMENT "Packing Quillaby.icns"
    VERBATIM)
add_custom_target(quillaby_icns ALL DEPENDS ${QZ_ICNS})

if(APPLE)
    target_link_libraries(quillaby PUBLIC ${QZ_APPLE_FRAMEWORKS})
    if(TARGET Quillaby)
        set_target_properties(Quillaby PROPERTIES
            MACOSX_BUNDLE TRUE
            MACOSX_BUNDLE_INFO_PLIST ${QZ_MACOS_BUILD_DIR}/Info.plist
            RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
        add_dependencies(Quillaby quillaby_icns)
    endif()
endif()

# What the configure check reads (tests/cmake/apple_only_check.cmake): the
# program's sources and the libraries it links, as this build has them.
file(GENERATE OUTPUT ${QZ_MACOS_BUILD_DIR}/build-contents.txt CONTENT
    "sources=$<TARGET_PROPERTY:quillaby_logic,SOURCES>\nlinks=$<TARGET_PROPERTY:quillaby,LINK_LIBRARIES>\n")

# The Help and the Error Numbers: one Markdown source each (help/), made by
# pandoc at build time into what the platform reads best. The macOS bundle
# gets RTF ("Help.rtfd/TXT.rtf", "ErrorNumbers.rtf"), which TextEdit opens;
# elsewhere the bundle gets HTML ("Help.html", "ErrorNumbers.html") with a
# table of contents whose links lead to the sections, shown in the
# program's help window. help/platform.lua keeps the parts written for the
# platform (divs of class "linux" or "mac").
find_program(QZ_PANDOC pandoc REQUIRED)

if(APPLE)
    set(QZ_HELP_PLATFORM mac)
    set(QZ_HELP_OUTPUTS "Help.rtfd/TXT.rtf" "ErrorNumbers.rtf")
    set(QZ_HELP_FORMAT -t rtf)
else()
    set(QZ_HELP_PLATFORM linux)
    set(QZ_HELP_OUTPUTS "Help.html" "ErrorNumbers.html")
    set(QZ_HELP_FORMAT -t html4 --toc --toc-depth=2 --metadata toc-title=Contents --metadata document-css=false)
endif()

set(QZ_HELP_FILES)
foreach(document Help ErrorNumbers)
    list(POP_FRONT QZ_HELP_OUTPUTS output)
    set(output ${QZ_RESOURCES_DIR}/${output})
    get_filename_component(folder ${output} DIRECTORY)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${QZ_PANDOC} --standalone ${QZ_HELP_FORMAT} --metadata platform=${QZ_HELP_PLATFORM}
            --lua-filter ${CMAKE_SOURCE_DIR}/help/platform.lua --output ${output}
            ${CMAKE_SOURCE_DIR}/help/${document}.md
        DEPENDS ${CMAKE_SOURCE_DIR}/help/${document}.md ${CMAKE_SOURCE_DIR}/help/platform.lua
        COMMENT "Making ${document} for ${QZ_HELP_PLATFORM}"
        VERBATIM)
    list(APPEND QZ_HELP_FILES ${output})
endforeach()
add_custom_target(quillaby_help ALL DEPENDS ${QZ_HELP_FILES})

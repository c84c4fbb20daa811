# The Apple-only source: the program's calls into Launch Services and the
# accessibility API. It is taken out of any source list that globbed it and
# put back only when building for Apple, which also links its frameworks.
# tests/cmake/apple_only_check.cmake checks both ways.
set(QZ_APPLE_ONLY_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../platform/macos_services.cpp)
cmake_path(NORMAL_PATH QZ_APPLE_ONLY_SOURCES)
set(QZ_APPLE_FRAMEWORKS "-framework CoreFoundation" "-framework ApplicationServices")

# qz_apple_sources(<list variable>): the list without the Apple-only
# source, and with it when APPLE is set.
function(qz_apple_sources var)
    set(sources ${${var}})
    list(REMOVE_ITEM sources ${QZ_APPLE_ONLY_SOURCES})
    if(APPLE)
        list(APPEND sources ${QZ_APPLE_ONLY_SOURCES})
    endif()
    set(${var} ${sources} PARENT_SCOPE)
endfunction()

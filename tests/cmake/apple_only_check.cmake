# The Apple-only source is compiled on Apple alone, and nowhere else.
#   cmake -DQZ_SOURCE_DIR=<source> -DQZ_BUILD_CONTENTS=<build>/macos/build-contents.txt
#         -DQZ_HOST_APPLE=<0|1> -P apple_only_check.cmake
# Checks the rule both ways, the file's guard, and what this build really
# compiles and links.
include(${QZ_SOURCE_DIR}/cmake/apple_sources.cmake)

# The rule both ways, on the folder's real list.
file(GLOB platform_sources ${QZ_SOURCE_DIR}/platform/*.cpp)
foreach(apple 1 0)
    set(APPLE ${apple})
    set(sources ${platform_sources})
    qz_apple_sources(sources)
    list(FILTER sources INCLUDE REGEX "/platform/macos_services\\.cpp$")
    list(LENGTH sources count)
    if(NOT count EQUAL apple)
        message(SEND_ERROR "with APPLE=${apple} platform/macos_services.cpp is compiled ${count} times")
    endif()
endforeach()

# Everything in the file is inside its #ifdef __APPLE__.
file(READ ${QZ_APPLE_ONLY_SOURCES} code)
string(REGEX REPLACE "(^|\n)//[^\n]*" "" code "${code}")
string(STRIP "${code}" code)
if(NOT code MATCHES "^#ifdef __APPLE__\n.*\n#endif$")
    message(SEND_ERROR "platform/macos_services.cpp has code outside its #ifdef __APPLE__")
endif()

# This build: the source and the frameworks on an Apple host only.
file(READ ${QZ_BUILD_CONTENTS} contents)
string(REGEX MATCH "sources=[^\n]*macos_services\\.cpp" compiled "${contents}")
string(REGEX MATCH "links=[^\n]*-framework ApplicationServices" linked "${contents}")
if(QZ_HOST_APPLE AND NOT (compiled AND linked))
    message(SEND_ERROR "the Apple build leaves out platform/macos_services.cpp or its frameworks:\n${contents}")
elseif(NOT QZ_HOST_APPLE AND (compiled OR linked))
    message(SEND_ERROR "a build off Apple takes in platform/macos_services.cpp or Apple frameworks:\n${contents}")
endif()

# Stand-ins built from source, into the bundle's stand-in folder next to the
# script stand-ins copied from platform/standins/.

# The `log` command: standard library and libplist, no Qt. It shares the
# simulated Mac's version with the application.
file(GLOB QZ_STANDIN_LOG_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/standin_log/*.cpp)
list(APPEND QZ_STANDIN_LOG_SOURCES ${CMAKE_SOURCE_DIR}/platform/simulated_mac.cpp)
add_executable(standin_log ${QZ_STANDIN_LOG_SOURCES})
target_include_directories(standin_log PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(standin_log PRIVATE quillaby_flags PkgConfig::PLIST)
set_target_properties(standin_log PROPERTIES OUTPUT_NAME log RUNTIME_OUTPUT_DIRECTORY ${QZ_STANDIN_DIR})

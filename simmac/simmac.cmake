# The simulated Mac that the program runs beside on systems other than
# macOS, built into the bundle: the stand-in commands for the macOS
# programs the application runs (Contents/StandIns) and the simulated
# system's SystemVersion.plist (Contents/Resources/SimulatedMac/...).

# The script stand-ins, copied as they are.
file(GLOB QZ_STANDIN_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/simmac/commands/*)
foreach(script ${QZ_STANDIN_SCRIPTS})
    get_filename_component(name ${script} NAME)
    configure_file(${script} ${QZ_STANDIN_DIR}/${name} COPYONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()

# A real Mac has its own system version: the simulated one stays out of
# its bundle.
if(NOT APPLE)
    configure_file(${CMAKE_SOURCE_DIR}/simmac/SystemVersion.plist
        ${QZ_RESOURCES_DIR}/SimulatedMac/System/Library/CoreServices/SystemVersion.plist COPYONLY)
endif()

# The `log` command: standard library and libplist, no Qt. It shares the
# simulated Mac's version and the version order with the application.
file(GLOB QZ_STANDIN_LOG_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/simmac/log/*.cpp)
list(APPEND QZ_STANDIN_LOG_SOURCES ${CMAKE_SOURCE_DIR}/simmac/simulated_mac.cpp ${CMAKE_SOURCE_DIR}/runtime/macversion.cpp)
add_executable(standin_log ${QZ_STANDIN_LOG_SOURCES})
target_include_directories(standin_log PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(standin_log PRIVATE quillaby_flags PkgConfig::PLIST)
set_target_properties(standin_log PROPERTIES OUTPUT_NAME log RUNTIME_OUTPUT_DIRECTORY ${QZ_STANDIN_DIR})

# The Windows install: one folder that runs as it is (the program with its icon, the Qt DLLs
# and plugins it loads, the MinGW run-time DLLs), which cpack.cmake packs. Included by
# packaging/ when building for Windows.

install(TARGETS gps-analyzer RUNTIME DESTINATION .)
target_sources(gps-analyzer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/gps-analyzer.rc)
# Where the resource compiler finds gps-analyzer.ico.
target_include_directories(gps-analyzer PRIVATE ${PROJECT_SOURCE_DIR}/packaging/icons)

foreach(module Core Gui Widgets Network)
    install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
if(TARGET Qt6::QWindowsVistaStylePlugin)
    install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
endif()

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/mingw-runtime)
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${runtime_path}" OR NOT EXISTS "${runtime_path}")
        message(FATAL_ERROR "The MinGW run-time ${runtime} was not found")
    endif()
    # Debian's run-time DLLs carry their debugging information: 23 MB for libstdc++ alone.
    execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${CMAKE_BINARY_DIR}/mingw-runtime/${runtime}
                            ${runtime_path} COMMAND_ERROR_IS_FATAL ANY)
    install(FILES ${CMAKE_BINARY_DIR}/mingw-runtime/${runtime} DESTINATION .)
endforeach()

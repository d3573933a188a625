# Installs the build into a fresh prefix (cmake --install), then the probe that checks the
# installed tree, which no package contains. Run by ctest as the "installed" fixture.
file(REMOVE_RECURSE "${PREFIX}")
set(config)
if(CONFIG)
    set(config --config "${CONFIG}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}" ${config}
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}" ${config}
                        --component install_probe
                COMMAND_ERROR_IS_FATAL ANY)

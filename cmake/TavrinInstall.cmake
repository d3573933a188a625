# Install rules (cmake --install, CPack). Windows keeps the editor addon beside the executable;
# elsewhere it goes to the prefix's data folder, which the application searches next.
if(WIN32)
    set(TAVRIN_INSTALL_ADDONDIR "${CMAKE_INSTALL_BINDIR}/bundled_addon")
else()
    set(TAVRIN_INSTALL_ADDONDIR "${CMAKE_INSTALL_DATADIR}/tavrin/bundled_addon")
endif()

# No libraries of our own are installed, so no $ORIGIN/../lib search path (qt_standard_project_setup's
# default). A Qt outside the system's library folders (an SDK install, macOS) stays reachable; Debian's
# Qt lives in an implicit folder, so the Debian package's binary has no RPATH at all.
if(NOT WIN32)
    set_target_properties(tavrin tavrin-cli PROPERTIES INSTALL_RPATH "" INSTALL_RPATH_USE_LINK_PATH ON)
endif()

# The command line beside the application; on Windows it shares the Qt libraries deployed there.
install(TARGETS tavrin tavrin-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(DIRECTORY "${TAVRIN_ADDON_SOURCE}/" DESTINATION "${TAVRIN_INSTALL_ADDONDIR}")

if(WIN32 AND MINGW)
    # What windeployqt does, as install rules: it runs only on Windows, and a MinGW build may come
    # from a Linux host. Qt's DLLs beside tavrin.exe, the plugins it loads in the folders Qt looks
    # in, and the MinGW runtime (no system-wide redistributable exists for it).
    foreach(module Core Gui Widgets Network Svg Concurrent)
        install(FILES "$<TARGET_FILE:Qt6::${module}>" DESTINATION "${CMAKE_INSTALL_BINDIR}")
    endforeach()
    set(tavrin_qt_plugins
        platforms QWindowsIntegrationPlugin
        platforms QOffscreenIntegrationPlugin # headless runs: checks and remote sessions
        styles QWindowsVistaStylePlugin
        imageformats QSvgPlugin
        imageformats QICOPlugin
        iconengines QSvgIconPlugin
        tls QSchannelBackendPlugin)
    while(tavrin_qt_plugins)
        list(POP_FRONT tavrin_qt_plugins folder plugin)
        if(TARGET Qt6::${plugin})
            install(FILES "$<TARGET_FILE:Qt6::${plugin}>" DESTINATION "${CMAKE_INSTALL_BINDIR}/${folder}")
        endif()
    endwhile()
    foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${runtime}
                        OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${runtime_path}" OR NOT EXISTS "${runtime_path}")
            message(FATAL_ERROR "The MinGW runtime ${runtime} was not found (the compiler answered \"${runtime_path}\")")
        endif()
        install(FILES "${runtime_path}" DESTINATION "${CMAKE_INSTALL_BINDIR}")
    endforeach()
elseif(WIN32)
    # windeployqt on the installed tree: Qt's DLLs and plugins beside tavrin.exe. The compiler
    # runtime comes from InstallRequiredSystemLibraries instead, as DLLs beside the executable: a
    # per-user install cannot run Microsoft's redistributable installer. Qt 6.4's deployment
    # function takes no options.
    if(Qt6_VERSION VERSION_GREATER_EQUAL 6.5)
        qt_generate_deploy_app_script(TARGET tavrin OUTPUT_SCRIPT tavrin_deploy_script NO_TRANSLATIONS
                                      NO_COMPILER_RUNTIME)
    else()
        qt_generate_deploy_app_script(TARGET tavrin FILENAME_VARIABLE tavrin_deploy_script)
    endif()
    install(SCRIPT "${tavrin_deploy_script}")
    set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION "${CMAKE_INSTALL_BINDIR}")
    set(CMAKE_INSTALL_UCRT_LIBRARIES ON)
    include(InstallRequiredSystemLibraries)
elseif(NOT APPLE)
    # Freedesktop integration: menu entry, AppStream metadata, icons, manual page.
    set(tavrin_linux "${CMAKE_CURRENT_SOURCE_DIR}/packaging/linux")
    set(tavrin_generated "${CMAKE_CURRENT_BINARY_DIR}/packaging")
    # Screenshots of the tagged release, so that the pictures match the version described.
    string(REPLACE "https://github.com/" "https://raw.githubusercontent.com/" TAVRIN_SCREENSHOT_URL
                   "${TAVRIN_REPOSITORY_URL}/v${PROJECT_VERSION}/docs/screenshots")
    configure_file("${tavrin_linux}/app.desktop.in" "${tavrin_generated}/${TAVRIN_APP_ID}.desktop" @ONLY)
    configure_file("${tavrin_linux}/app.metainfo.xml.in" "${tavrin_generated}/${TAVRIN_APP_ID}.metainfo.xml" @ONLY)
    configure_file("${tavrin_linux}/tavrin.1.in" "${tavrin_generated}/tavrin.1" @ONLY)
    configure_file("${tavrin_linux}/tavrin-cli.1.in" "${tavrin_generated}/tavrin-cli.1" @ONLY)
    install(FILES "${tavrin_generated}/${TAVRIN_APP_ID}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
    install(FILES "${tavrin_generated}/${TAVRIN_APP_ID}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
    install(DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}/resources/branding/hicolor"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")
    install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/resources/branding/tavrin.svg"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps" RENAME "${TAVRIN_APP_ID}.svg")

    # Debian wants the manual page and the changelog compressed, without a time stamp in the gzip
    # header, so that the package is reproducible.
    find_program(GZIP_PROGRAM gzip REQUIRED)
    configure_file("${tavrin_linux}/changelog" "${tavrin_generated}/changelog" COPYONLY)
    add_custom_command(OUTPUT "${tavrin_generated}/tavrin.1.gz" "${tavrin_generated}/tavrin-cli.1.gz"
                              "${tavrin_generated}/changelog.gz"
        COMMAND "${GZIP_PROGRAM}" -9nkf "${tavrin_generated}/tavrin.1" "${tavrin_generated}/tavrin-cli.1"
                "${tavrin_generated}/changelog"
        DEPENDS "${tavrin_generated}/tavrin.1" "${tavrin_generated}/tavrin-cli.1" "${tavrin_generated}/changelog"
        VERBATIM)
    add_custom_target(packaging_docs ALL DEPENDS "${tavrin_generated}/tavrin.1.gz" "${tavrin_generated}/tavrin-cli.1.gz"
                                                 "${tavrin_generated}/changelog.gz")
    install(FILES "${tavrin_generated}/tavrin.1.gz" "${tavrin_generated}/tavrin-cli.1.gz"
            DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
    # Where bash-completion loads it from on first use of the command.
    install(FILES "${tavrin_linux}/tavrin-cli.bash" DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions"
            RENAME tavrin-cli)
    install(FILES "${tavrin_generated}/changelog.gz" "${tavrin_linux}/copyright" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/tavrin-desktop")
endif()

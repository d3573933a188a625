# Packages through CPack: a Debian package (cpack -G DEB, scripts/package.sh) and the per-user
# Windows installer (cpack -G NSIS) whose name the updater looks for among a release's assets.
set(TAVRIN_PACKAGE_MAINTAINER "Tavrin Desktop developers <desktop@tavrin.dev>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME "tavrin-desktop")
set(CPACK_PACKAGE_VENDOR "${TAVRIN_APP_NAME}")
set(CPACK_PACKAGE_CONTACT "${TAVRIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${TAVRIN_WEBSITE_URL}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "connect AI coding clients to the Godot editor")
# Debian shows the description as written: lines of at most 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tavrin Desktop prepares the computer and a Godot 4 project for the Tavrin\n"
    "MCP server, which gives AI coding clients access to the Godot editor.\n"
    "Pick a Godot project, and the app\n"
    " - installs, updates and removes the Tavrin editor addon in the project;\n"
    " - checks that Python, uv and uvx are available and shows their versions;\n"
    " - detects Claude Code, Claude Desktop, Cursor, Windsurf, Cline and Codex,\n"
    "   and registers the Tavrin server with each of them, or removes it again;\n"
    " - checks for new releases of itself.\n"
    "It stays in the system tray when its window is closed. The same setup is\n"
    "scriptable from a terminal with tavrin-cli, which needs no display.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${TAVRIN_APP_NAME}")
set(CPACK_STRIP_FILES ON)
# One package of everything installed by default: the test probe's component stays out of it.
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/")

# Debian: dependencies from the libraries the binary links (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION "devel")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Windows: our own NSIS template (packaging/windows) installs for the current user without
# administrator rights; CPack's stock one asks for them.
list(APPEND CMAKE_MODULE_PATH "${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "${TAVRIN_APP_ID}") # stable across versions, so updates replace
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_PACKAGE_NAME "${TAVRIN_DISPLAY_NAME}")
set(CPACK_NSIS_DISPLAY_NAME "${TAVRIN_DISPLAY_NAME}")
set(CPACK_NSIS_MUI_ICON "${CMAKE_CURRENT_SOURCE_DIR}/resources/branding/tavrin.ico")
set(CPACK_NSIS_MUI_UNIICON "${CMAKE_CURRENT_SOURCE_DIR}/resources/branding/tavrin.ico")
set(CPACK_NSIS_INSTALLED_ICON_NAME "${CMAKE_INSTALL_BINDIR}\\\\tavrin.exe")
set(CPACK_NSIS_URL_INFO_ABOUT "${TAVRIN_WEBSITE_URL}")
set(CPACK_NSIS_HELP_LINK "${TAVRIN_WEBSITE_URL}/docs")
set(CPACK_NSIS_CONTACT "${TAVRIN_PACKAGE_MAINTAINER}")
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")

# Per-generator file names, chosen when cpack runs.
configure_file("${CMAKE_CURRENT_SOURCE_DIR}/cmake/TavrinCPackOptions.cmake.in"
               "${CMAKE_CURRENT_BINARY_DIR}/TavrinCPackOptions.cmake" @ONLY)
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_BINARY_DIR}/TavrinCPackOptions.cmake")

include(CPack)

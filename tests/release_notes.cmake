# Fails when the project's version has no release notes: the newest AppStream <release> (they are
# listed newest first) and the top entry of the Debian changelog must both name it.
file(READ "${SOURCE}/packaging/linux/app.metainfo.xml.in" metainfo)
string(REGEX MATCH "<release version=\"([^\"]*)\"" found "${metainfo}")
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "packaging/linux/app.metainfo.xml.in: the newest <release> is '${CMAKE_MATCH_1}', "
                        "the project's version is ${VERSION}")
endif()
file(STRINGS "${SOURCE}/packaging/linux/changelog" top LIMIT_COUNT 1)
string(REGEX MATCH "^tavrin-desktop \\(([^)]*)\\) " found "${top}")
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "packaging/linux/changelog: the top entry is '${CMAKE_MATCH_1}', "
                        "the project's version is ${VERSION}")
endif()
message(STATUS "release notes for ${VERSION} in the AppStream metadata and the Debian changelog")

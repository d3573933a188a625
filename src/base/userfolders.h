#pragma once

#include <QString>

// The user's own folders: home, per-user data, per-user settings and downloads. On Windows, Qt asks
// the shell for the profile and the Known Folders and ignores the environment, so a run that points
// USERPROFILE, APPDATA or LOCALAPPDATA elsewhere (the tests, a portable set-up) would still read and
// write the real profile; here those variables win when set. They match the Known Folders on a
// normal Windows session. Elsewhere Qt already follows HOME and the XDG variables.
class UserFolders
{
public:
    UserFolders() = delete;

    [[nodiscard]] static QString home();
    // Per-user application data (QStandardPaths::GenericDataLocation).
    [[nodiscard]] static QString data();
    // Per-user settings (QStandardPaths::GenericConfigLocation).
    [[nodiscard]] static QString config();
    // Where downloads go; empty when the platform names none.
    [[nodiscard]] static QString downloads();
};

#pragma once

#include <QString>

// Routes every Qt message into one log file (rotated once per start past 2 MiB) and standard error.
class Logger
{
public:
    // Prepares the folder, rotates, opens the file and installs the handler; call once, early.
    static void install();
    // Puts Qt's default handler back and closes the file, which Windows would not let anyone
    // rename or delete while it is open (the tests install again in one process).
    static void uninstall();
    [[nodiscard]] static QString logFilePath();
};

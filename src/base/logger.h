#pragma once

#include <QString>

// Routes every Qt message into one log file (rotated once per start past 2 MiB) and standard error.
class Logger
{
public:
    // Prepares the folder, rotates, opens the file and installs the handler; call once, early.
    static void install();
    [[nodiscard]] static QString logFilePath();
};

#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The MCP server every client registration starts: its entry name, the program and argument that
// start it, the environment variable that hands it the permission mode, and the modes there are.
// Client entries, the server test, the settings and the pages all take them from here.
namespace McpServer {

// A permission mode: its value in settings and entries, and its name for people.
struct Mode
{
    QString value;
    QString name;
    QString description; // one sentence on what the server may do in it
};

// "tavrin": the entry's name in every client, and the argument the program is started with.
[[nodiscard]] const QString &name();
// "uvx"
[[nodiscard]] const QString &program();
// "GODOT_MCP_PERMISSION_MODE"
[[nodiscard]] const QString &modeVariable();
// "uvx tavrin": what a current entry starts.
[[nodiscard]] QString command();
// Safe Edit, then Full Control.
[[nodiscard]] const QList<Mode> &modes();
// The mode of a fresh installation and of settings that hold none.
[[nodiscard]] const QString &defaultMode();
// "Safe Edit", "Full Control", or the value itself in quotes for a mode we do not know.
[[nodiscard]] QString modeName(const QString &value);
// Modes go onto client command lines (through cmd.exe on Windows): only lower-case ASCII letters
// and underscores pass.
[[nodiscard]] bool isValidMode(const QString &value);

} // namespace McpServer

#include "core/mcpserver.h"

#include <QCoreApplication>

namespace McpServer {

const QString &name()
{
    static const QString s_name = QStringLiteral("tavrin");
    return s_name;
}

const QString &program()
{
    static const QString s_program = QStringLiteral("uvx");
    return s_program;
}

const QString &modeVariable()
{
    static const QString s_variable = QStringLiteral("GODOT_MCP_PERMISSION_MODE");
    return s_variable;
}

QString command()
{
    return program() + QLatin1Char(' ') + name();
}

const QList<Mode> &modes()
{
    static const QList<Mode> s_modes{
        {QStringLiteral("safe_edit"), QCoreApplication::translate("McpServer", "Safe Edit"),
         QCoreApplication::translate("McpServer",
                                     "The server lets the AI read the project and edit it through the Godot "
                                     "editor, and holds back the actions it counts as risky.")},
        {QStringLiteral("full_control"), QCoreApplication::translate("McpServer", "Full Control"),
         QCoreApplication::translate("McpServer",
                                     "The server lets the AI use every tool it has, including those Safe Edit "
                                     "holds back.")},
    };
    return s_modes;
}

const QString &defaultMode()
{
    return modes().constFirst().value;
}

QString modeName(const QString &value)
{
    for (const Mode &mode : modes()) {
        if (mode.value == value)
            return mode.name;
    }
    return QStringLiteral("“%1”").arg(value);
}

bool isValidMode(const QString &value)
{
    if (value.isEmpty())
        return false;
    for (const QChar c : value) {
        if (!((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('_')))
            return false;
    }
    return true;
}

} // namespace McpServer

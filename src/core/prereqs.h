#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// One prerequisite program as found on the PATH.
struct PrereqResult
{
    QString name;
    bool found = false;
    QString version;
    QString hint;
};

// Checks that Python, uv and uvx are on the PATH and asks each for its version.
class Prereqs : public QObject
{
    Q_OBJECT
public:
    explicit Prereqs(QObject *parent = nullptr);

    [[nodiscard]] QList<PrereqResult> check() const;

    // A way to install uv (which brings uvx), for people to copy into a terminal.
    struct InstallCommand
    {
        QString label;
        QString command;
    };
    // The standalone installer for this platform, then pipx. Not "pip install uv": on Debian 12 and
    // other systems whose Python is externally managed (PEP 668) pip refuses.
    [[nodiscard]] static QList<InstallCommand> uvInstallCommands();
    [[nodiscard]] static QString uvInstallPage();
    [[nodiscard]] static PrereqResult checkExe(const QString &name, const QString &program, const QStringList &args,
                                               const QString &hint);
};

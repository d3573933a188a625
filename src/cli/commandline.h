#pragma once

#include "cli/console.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

class QCommandLineParser;
class Settings;

// The commands of tavrin-cli: finds the command words, parses the rest with the command's own
// options and runs it over the core services, returning the exit code (see Exit).
class CommandLine
{
public:
    explicit CommandLine(const Console &console);
    ~CommandLine();
    CommandLine(const CommandLine &) = delete;
    CommandLine &operator=(const CommandLine &) = delete;

    // `arguments` as QCoreApplication::arguments() gives them, the program first.
    int run(const QStringList &arguments);

private:
    struct Command;
    using Handler = int (CommandLine::*)(const QCommandLineParser &parser, const QStringList &positional);

    static const QList<Command> &commands();
    [[nodiscard]] QString generalHelp() const;
    [[nodiscard]] QString groupHelp(const QString &group) const;
    int usageError(const QString &words, const QString &message) const;
    Settings &settings();
    // The --project folder, absolute and clean; empty when none was given (each command decides
    // whether the active project stands in).
    [[nodiscard]] QString projectFolder(const QCommandLineParser &parser) const;
    // Destructive commands: a question on a terminal, -y (or --dry-run, which changes nothing)
    // without one. False: the caller exits with the code in *exitCode.
    bool confirmed(const QCommandLineParser &parser, const QString &question, int *exitCode) const;

    int status(const QCommandLineParser &parser, const QStringList &positional);
    int clientsList(const QCommandLineParser &parser, const QStringList &positional);
    int clientsAdd(const QCommandLineParser &parser, const QStringList &positional);
    int clientsRemove(const QCommandLineParser &parser, const QStringList &positional);
    int clientsChange(const QCommandLineParser &parser, bool add);
    int mode(const QCommandLineParser &parser, const QStringList &positional);
    int addonInstall(const QCommandLineParser &parser, const QStringList &positional);
    int addonUpdate(const QCommandLineParser &parser, const QStringList &positional);
    int addonUninstall(const QCommandLineParser &parser, const QStringList &positional);
    int pluginEnable(const QCommandLineParser &parser, const QStringList &positional);
    int pluginDisable(const QCommandLineParser &parser, const QStringList &positional);
    int projectChange(const QCommandLineParser &parser, int action);
    int serverTest(const QCommandLineParser &parser, const QStringList &positional);
    int godotFind(const QCommandLineParser &parser, const QStringList &positional);
    int projectsList(const QCommandLineParser &parser, const QStringList &positional);
    int backupsList(const QCommandLineParser &parser, const QStringList &positional);
    int backupsRestore(const QCommandLineParser &parser, const QStringList &positional);

    const Console &m_console;
    Settings *m_settings = nullptr;
    QString m_words; // the command being run, "clients add"
};

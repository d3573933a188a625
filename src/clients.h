#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <functional>

// One AI client as detection sees it.
struct ClientInfo
{
    QString id;
    QString name;
    bool usesCli = false;
    bool installed = false;
    bool configured = false;
};

// Knows the six AI clients, detects them, and registers or removes the "tavrin" MCP server entry
// in each, by merging into its JSON config or by running its own CLI. Cheap to create, so worker
// threads make their own instance.
class Clients : public QObject
{
    Q_OBJECT
public:
    enum class Platform { Windows, MacOS, Linux };

    explicit Clients(QObject *parent = nullptr);

    // Detection
    [[nodiscard]] QList<ClientInfo> detect(const QString &permissionMode) const;
    [[nodiscard]] static QString configPathFor(const QString &clientId);
    [[nodiscard]] static QString findExecutable(const QString &name);
    [[nodiscard]] QString lastError() const { return m_lastError; }

    // Where a JSON client may keep its file, in order of preference; a folder component may hold a
    // '*' wildcard. Pure: depends only on the arguments, so every platform's list can be checked
    // anywhere. Empty for the CLI clients and unknown identifiers.
    [[nodiscard]] static QStringList configCandidates(const QString &clientId, Platform platform,
                                                      const QProcessEnvironment &env, const QString &home,
                                                      const QString &dataDir, const QString &configDir);
    // The first candidate whose folder exists (wildcards expanded); when none does, the first
    // candidate without a wildcard.
    [[nodiscard]] static QString resolveConfigPath(const QStringList &candidates);
    [[nodiscard]] static Platform currentPlatform();
    // The file in which Claude Code keeps its user-scope MCP servers.
    [[nodiscard]] static QString claudeUserConfigPath(const QProcessEnvironment &env, const QString &home);
    // Permission modes go onto CLI command lines (through cmd.exe on Windows), so only
    // lower-case ASCII letters and underscores are let through.
    [[nodiscard]] static bool isValidPermissionMode(const QString &permissionMode);

    // Configuration
    bool writeConfig(const QString &clientId, const QString &permissionMode);
    bool removeConfig(const QString &clientId);
    [[nodiscard]] static QJsonObject mcpEntry(const QString &permissionMode);
    // The file-level operations leave a reason in *error (when given) on failure.
    static bool writeJsonConfig(const QString &path, const QString &permissionMode, QString *error = nullptr);
    static bool removeJsonConfig(const QString &path, QString *error = nullptr);
    bool runCliAdd(const QString &clientId, const QString &permissionMode);
    bool runCliRemove(const QString &clientId);
    bool executeCli(const QString &program, const QStringList &args);

signals:
    void configWritten(const QString &clientId, bool success);
    void configRemoved(const QString &clientId, bool success);

private:
    // executeCli, except that a failed run whose output `harmless` accepts counts as success.
    bool runTool(const QString &program, const QStringList &args,
                 const std::function<bool(const QString &output)> &harmless);

    QString m_lastError;
};

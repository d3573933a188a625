#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

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
    explicit Clients(QObject *parent = nullptr);

    // Detection
    [[nodiscard]] QList<ClientInfo> detect(const QString &permissionMode) const;
    [[nodiscard]] static QString configPathFor(const QString &clientId);
    [[nodiscard]] static QString findExecutable(const QString &name);
    [[nodiscard]] QString lastError() const { return m_lastError; }

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
    QString m_lastError;
};

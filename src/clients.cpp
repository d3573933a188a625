#include "clients.h"

// Placeholder until client detection and configuration land.
Clients::Clients(QObject *parent) : QObject(parent) {}
QList<ClientInfo> Clients::detect(const QString &) const { return {}; }
QString Clients::configPathFor(const QString &) { return {}; }
QString Clients::findExecutable(const QString &) { return {}; }
bool Clients::writeConfig(const QString &, const QString &) { return false; }
bool Clients::removeConfig(const QString &) { return false; }
QJsonObject Clients::mcpEntry(const QString &) { return {}; }
bool Clients::writeJsonConfig(const QString &, const QString &, QString *) { return false; }
bool Clients::removeJsonConfig(const QString &, QString *) { return false; }
bool Clients::runCliAdd(const QString &, const QString &) { return false; }
bool Clients::runCliRemove(const QString &) { return false; }
bool Clients::executeCli(const QString &, const QStringList &) { return false; }

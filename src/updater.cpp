#include "updater.h"

// Placeholder until the update checker lands.
Updater::Updater(QNetworkAccessManager *nam, const QString &currentVersion, QObject *parent)
    : QObject(parent), m_nam(nam), m_currentVersion(currentVersion)
{
}
void Updater::checkForUpdates() {}
void Updater::downloadUpdate(const QString &) {}
void Updater::setReleaseUrl(const QUrl &url) { m_releaseUrl = url; }

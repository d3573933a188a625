#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

// The outcome of one release query.
struct UpdateInfo
{
    bool updateAvailable = false;
    QString latestVersion;
    QString currentVersion;
    QString downloadUrl;
    QString releaseNotes;
};
Q_DECLARE_METATYPE(UpdateInfo)

// Asks the release host for the latest release, compares it with the running version and
// downloads the Windows installer on request. Results arrive as signals on the GUI thread.
class Updater : public QObject
{
    Q_OBJECT
public:
    Updater(QNetworkAccessManager *nam, const QString &currentVersion, QObject *parent = nullptr);

    void checkForUpdates();
    void downloadUpdate(const QString &url);
    void setReleaseUrl(const QUrl &url);

signals:
    void updateChecked(const UpdateInfo &info);
    void checkFailed(const QString &error);
    void downloadProgress(qint64 received, qint64 total);
    void downloadFinished(const QString &filePath);
    void downloadFailed(const QString &error);

private:
    void startDownload(const QUrl &url, const QByteArray &expectedSha256);

    QNetworkAccessManager *m_nam;
    QString m_currentVersion;
    QUrl m_releaseUrl;
    // Installer address -> address of its published SHA-256, as listed by the checks so far.
    QHash<QString, QUrl> m_checksumUrls;
};

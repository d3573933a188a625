#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

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
// Every wait is bounded: a query that does not complete in 15 s fails, and so does a download
// that receives nothing for 30 s or less than 1 KiB in 60 s. Downloads come only from HTTPS (or
// local test) addresses, and only an installer known to be complete (by the listed size, the
// published checksum or the announced length) is kept.
class Updater : public QObject
{
    Q_OBJECT
public:
    Updater(QNetworkAccessManager *nam, const QString &currentVersion, QObject *parent = nullptr);
    ~Updater() override;

    void checkForUpdates();
    // One download at a time: a request while one runs starts nothing and gets the running one's result.
    void downloadUpdate(const QString &url);
    // Ends the download in flight, keeping nothing; no result signal follows (the caller asked).
    void cancelDownload();
    [[nodiscard]] bool isDownloading() const { return m_download != nullptr; }

    void setReleaseUrl(const QUrl &url);
    // Test seam: the release query's limit, the download's stall limit and the window in which a
    // download must receive at least 1 KiB, in milliseconds.
    void setTimeLimits(int queryMs, int stallMs, int slowWindowMs = 60000);

    // The latest-release endpoint of a repository's web address.
    [[nodiscard]] static QUrl releaseFeed(const QString &repositoryUrl);
    // https:, or http: to this machine (local test servers); anything else is refused.
    [[nodiscard]] static bool isAllowedDownloadUrl(const QUrl &url);

signals:
    void updateChecked(const UpdateInfo &info);
    void checkFailed(const QString &error);
    void downloadProgress(qint64 received, qint64 total);
    void downloadFinished(const QString &filePath);
    void downloadFailed(const QString &error);

private:
    struct Download;
    // What the release lists about an installer besides its address.
    struct Asset
    {
        QUrl checksumUrl; // its published SHA-256, when listed
        qint64 size = -1;
    };

    QNetworkReply *get(const QUrl &url);
    void startDownload(const QUrl &url);
    void finishDownload(const QString &failure, const QString &filePath = {});

    QNetworkAccessManager *m_nam;
    QString m_currentVersion;
    QUrl m_releaseUrl;
    int m_queryLimitMs = 15000;
    int m_stallLimitMs = 30000;
    int m_slowWindowMs = 60000;
    // Installer address -> what the checks so far listed about it.
    QHash<QString, Asset> m_assets;
    std::shared_ptr<Download> m_download; // the download in flight
};

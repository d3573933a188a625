#pragma once

#include "core/installation.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class Settings;

// The outcome of one release query.
struct UpdateInfo
{
    bool updateAvailable = false;
    QString latestVersion;
    QString currentVersion;
    QString downloadUrl; // the asset for this machine; empty when the release has none
    QString releaseNotes;
    QString releasePage; // the release on the web, for what no asset of ours fits
    QString assetName;
    Installation::Kind installation = Installation::Kind::SourceBuild;
    bool automatic = false; // the check ran by itself, not on the user's request
    bool skipped = false;   // latestVersion is the one the user chose to skip

    // A skipped version is news only when the user asked.
    [[nodiscard]] bool worthTelling() const { return updateAvailable && !(automatic && skipped); }
};
Q_DECLARE_METATYPE(UpdateInfo)

// Asks the release host for the latest release, compares it with the running version and
// downloads the package that fits this machine on request: the Windows installer, or the Debian
// package when dpkg installed the running copy. Results arrive as signals on the GUI thread.
// With a settings store it is polite to the host: automatic checks at most once a day and never
// while the host's rate limit runs, the last answer's ETag sent along, and a skipped version kept.
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

    // "Check Now": always asks.
    void checkForUpdates();
    // At start: asks only when the last answer is a day old and no rate-limit wait runs; false
    // when it did not ask.
    bool checkAutomatically();
    // Automatic checks stay silent about this version from now on.
    void skipVersion(const QString &version);
    // Where the checks keep their schedule, ETag, skipped version and channel; without one every
    // check asks afresh.
    void setSettings(Settings *settings);
    // One download at a time: a request while one runs starts nothing and gets the running one's result.
    void downloadUpdate(const QString &url);
    // Ends the download in flight, keeping nothing; no result signal follows (the caller asked).
    void cancelDownload();
    [[nodiscard]] bool isDownloading() const { return m_download != nullptr; }

    void setReleaseUrl(const QUrl &url);
    // Test seams: the platform assets are chosen for, and where dpkg's database lives.
    void setPlatform(const QString &platform);
    void setDpkgInfoDir(const QString &dir);
    // Test seam: the release query's limit, the download's stall limit and the window in which a
    // download must receive at least 1 KiB, in milliseconds.
    void setTimeLimits(int queryMs, int stallMs, int slowWindowMs = 60000);

    // The latest-release endpoint of a repository's web address.
    [[nodiscard]] static QUrl releaseFeed(const QString &repositoryUrl);
    // The name of the asset for this machine among a release's, or an empty string: the Windows
    // installer on "windows", our Debian package for this architecture on "linux" when the running
    // copy came from it, nothing elsewhere.
    [[nodiscard]] static QString assetName(const QStringList &assetNames, const QString &platform,
                                           bool fromDebianPackage,
                                           const QString &debianArchitecture = Installation::debianArchitecture());
    // <0, 0 or >0 as a is older than, as old as or newer than b. Numbers compare as QVersionNumber
    // does; a pre-release comes before its release (1.1.0-beta.2 < 1.1.0), and its dot-separated
    // parts compare as semantic versioning says (beta.2 < beta.10 < rc.1).
    [[nodiscard]] static int compareVersions(const QString &a, const QString &b);
    // Whether an automatic check may ask now: a day after the last answer, and not before the end
    // of a rate-limit wait. Stored times in the future (a clock set back) count as long past.
    [[nodiscard]] static bool automaticCheckDue(const QDateTime &lastAnswer, const QDateTime &waitUntil,
                                                const QDateTime &now);
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

    void check(bool automatic);
    [[nodiscard]] QUrl feedUrl() const;
    UpdateInfo releaseInfo(const QJsonObject &release, bool automatic);
    QNetworkReply *get(const QUrl &url);
    void startDownload(const QUrl &url);
    void finishDownload(const QString &failure, const QString &filePath = {});

    QNetworkAccessManager *m_nam;
    Settings *m_settings = nullptr;
    QString m_platform;
    QString m_dpkgInfoDir;
    QString m_currentVersion;
    QUrl m_releaseUrl;
    int m_queryLimitMs = 15000;
    int m_stallLimitMs = 30000;
    int m_slowWindowMs = 60000;
    // Installer address -> what the checks so far listed about it.
    QHash<QString, Asset> m_assets;
    std::shared_ptr<Download> m_download; // the download in flight
};

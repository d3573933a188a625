#include "core/updater.h"

#include "version.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <QVersionNumber>

#include <cctype>
#include <memory>

namespace {

const QByteArray s_userAgent = QByteArrayLiteral("Tavrin-Desktop");
const QLatin1String s_installerSuffix("-win64.exe");
const QLatin1String s_checksumSuffix(".sha256");
const QLatin1String s_fallbackName("Tavrin-update");

// With an unbounded read buffer the network thread would pile the installer up in memory
// whenever the disk is slower than the network; this keeps the footprint flat.
constexpr qint64 s_readBufferSize = 1024 * 1024;
constexpr qint64 s_writeChunk = 256 * 1024;
// A checksum file is one line; anything much larger is not one.
constexpr qint64 s_maxChecksumSize = 64 * 1024;
// A release description is a few KiB; GitHub's largest run to a few hundred.
constexpr qint64 s_maxReleaseSize = 2 * 1024 * 1024;

// Keeps the name from ever leaving the download folder: only the last path component of
// either separator counts, and "." or ".." are no names at all.
QString lastPathComponent(QString name)
{
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return {};
    return name;
}

QString nameFromContentDisposition(const QByteArray &header)
{
    const QString value = QString::fromUtf8(header);
    const QLatin1String key("filename=");
    const qsizetype at = value.indexOf(key);
    if (at < 0)
        return {};
    QString name = value.mid(at + key.size()).trimmed();
    // A quoted name ends at its closing quote, a bare one at the next parameter.
    if (name.startsWith(QLatin1Char('"'))) {
        const qsizetype close = name.indexOf(QLatin1Char('"'), 1);
        name = close < 0 ? name.mid(1) : name.mid(1, close - 1);
    } else {
        name = name.left(name.indexOf(QLatin1Char(';'))).trimmed();
    }
    name.remove(QLatin1Char('"'));
    return lastPathComponent(name);
}

QString targetFileName(const QNetworkReply *reply)
{
    QString name = nameFromContentDisposition(reply->rawHeader("Content-Disposition"));
    if (name.isEmpty())
        name = lastPathComponent(reply->url().fileName(QUrl::FullyDecoded));
    return name.isEmpty() ? QString(s_fallbackName) : name;
}

// Accepts "<hex>" and the sha256sum line "<hex>  <name>" (or "<hex> *<name>").
QByteArray digestFromChecksumFile(const QByteArray &content)
{
    QByteArray text = content;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    const QByteArray hex = text.trimmed().split('\n').value(0).simplified().split(' ').value(0);
    if (hex.size() != 64)
        return {};
    for (const char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
    }
    return QByteArray::fromHex(hex);
}

bool isSuccessStatus(const QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return true; // not HTTP
    const int code = status.toInt();
    return code >= 200 && code < 300;
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0);
}

QString refusal(const QString &what, const QUrl &url)
{
    return QStringLiteral("Refusing to %1 from %2: only HTTPS addresses are allowed.").arg(what, url.toDisplayString());
}

} // namespace

// One installer download in flight: the checksum first when the release lists one, then the
// installer, streamed into a QSaveFile so that only a complete, verified file replaces the target.
struct Updater::Download
{
    QUrl source;
    QSaveFile file;
    QString targetPath;
    QCryptographicHash hash{QCryptographicHash::Sha256};
    QByteArray expectedSha256;
    qint64 expectedSize = -1; // from the release; -1 when it lists none
    qint64 received = 0;
    QString failure;               // set before a reply is aborted, so that its end reports why
    QPointer<QNetworkReply> reply; // the request in flight

    bool openTarget(const QNetworkReply *from)
    {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        if (folder.isEmpty())
            folder = QDir::homePath();
        QDir().mkpath(folder);
        targetPath = folder + QLatin1Char('/') + targetFileName(from);
        file.setFileName(targetPath);
        if (!file.open(QIODevice::WriteOnly)) {
            failure = QStringLiteral("Cannot write to ") + targetPath;
            return false;
        }
        return true;
    }

    // Moves whatever the reply holds to disk; false once the file cannot take it.
    bool drain(QNetworkReply *from)
    {
        if (!isSuccessStatus(from)) {
            from->readAll(); // an error page, not the installer
            return true;
        }
        if (!file.isOpen() && !openTarget(from))
            return false;
        while (from->bytesAvailable() > 0) {
            const QByteArray chunk = from->read(s_writeChunk);
            received += chunk.size();
            if (expectedSize >= 0 && received > expectedSize) {
                failure = QStringLiteral("The download was larger than the release lists (%1 bytes); nothing was "
                                         "kept.")
                              .arg(expectedSize);
                return false;
            }
            hash.addData(chunk);
            if (file.write(chunk) != chunk.size()) {
                failure = QStringLiteral("Cannot write to ") + targetPath;
                return false;
            }
        }
        return true;
    }

    // The byte count must be what the release and the server announced: a body cut off in a way
    // the network layer took for its end is no installer.
    bool complete(const QNetworkReply *from)
    {
        const QVariant length = from->header(QNetworkRequest::ContentLengthHeader);
        const QByteArray encoding = from->rawHeader("Content-Encoding");
        const bool lengthCounts = length.isValid() && (encoding.isEmpty() || encoding == "identity");
        const qint64 expected = expectedSize >= 0 ? expectedSize : (lengthCounts ? length.toLongLong() : -1);
        if ((expected >= 0 && received != expected) || (lengthCounts && received != length.toLongLong())) {
            failure = QStringLiteral("The download was incomplete (%1 of %2 bytes); nothing was kept.")
                          .arg(received)
                          .arg(expected);
            return false;
        }
        return true;
    }
};

Updater::Updater(QNetworkAccessManager *nam, const QString &currentVersion, QObject *parent)
    : QObject(parent), m_nam(nam), m_currentVersion(currentVersion),
      m_releaseUrl(releaseFeed(QLatin1String(Tavrin::RepositoryUrl)))
{
    qRegisterMetaType<UpdateInfo>();
}

// Ends a download that is still running when the application quits, keeping nothing.
Updater::~Updater()
{
    cancelDownload();
}

void Updater::setReleaseUrl(const QUrl &url)
{
    m_releaseUrl = url;
}

void Updater::setTimeLimits(int queryMs, int stallMs)
{
    m_queryLimitMs = queryMs;
    m_stallLimitMs = stallMs;
}

QUrl Updater::releaseFeed(const QString &repositoryUrl)
{
    const QUrl repository(repositoryUrl);
    QString path = repository.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.endsWith(QLatin1String(".git")))
        path.chop(4);
    QUrl feed;
    feed.setScheme(QStringLiteral("https"));
    const QString host = repository.host().toLower();
    if (host == QLatin1String("github.com") || host == QLatin1String("www.github.com")) {
        feed.setHost(QStringLiteral("api.github.com"));
        feed.setPath(QLatin1String("/repos") + path + QLatin1String("/releases/latest"));
    } else { // GitHub Enterprise serves its API below /api/v3 of its own host
        feed.setHost(host);
        feed.setPort(repository.port());
        feed.setPath(QLatin1String("/api/v3/repos") + path + QLatin1String("/releases/latest"));
    }
    return feed;
}

bool Updater::isAllowedDownloadUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    const QString host = url.host().toLower();
    if (scheme == QLatin1String("https"))
        return !host.isEmpty();
    return scheme == QLatin1String("http") &&
           (host == QLatin1String("127.0.0.1") || host == QLatin1String("::1") || host == QLatin1String("localhost"));
}

void Updater::checkForUpdates()
{
    QNetworkRequest request(m_releaseUrl);
    request.setRawHeader("Accept", "application/vnd.github+json");
    request.setRawHeader("User-Agent", s_userAgent);
    QNetworkReply *reply = m_nam->get(request);
    // The buffer holds at most one byte past the limit, so an endless answer costs no memory.
    reply->setReadBufferSize(s_maxReleaseSize + 1);
    auto failure = std::make_shared<QString>();
    const auto failWith = [reply, failure](const QString &message) {
        if (failure->isEmpty()) {
            *failure = message;
            reply->abort();
        }
    };
    const auto checkSize = [reply, failWith] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (reply->bytesAvailable() > s_maxReleaseSize || (length.isValid() && length.toLongLong() > s_maxReleaseSize))
            failWith(QStringLiteral("The update server's answer is larger than %1 MiB, too large for a release.")
                         .arg(s_maxReleaseSize >> 20));
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, checkSize);
    connect(reply, &QNetworkReply::readyRead, this, checkSize);
    auto *limit = new QTimer(reply);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, this, [this, failWith] {
        failWith(QStringLiteral("The update server did not answer within %1 s.").arg(seconds(m_queryLimitMs)));
    });
    limit->start(m_queryLimitMs);

    connect(reply, &QNetworkReply::finished, this, [this, reply, failure] {
        reply->deleteLater();
        if (!failure->isEmpty()) {
            emit checkFailed(*failure);
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            emit checkFailed(reply->errorString());
            return;
        }
        const QJsonObject release = QJsonDocument::fromJson(reply->readAll()).object();

        QString tag = release.value(QLatin1String("tag_name")).toString();
        if (tag.startsWith(QLatin1Char('v')))
            tag.remove(0, 1);

        UpdateInfo info;
        info.latestVersion = tag;
        info.currentVersion = m_currentVersion;
        info.releaseNotes = release.value(QLatin1String("body")).toString();
        info.updateAvailable =
            QVersionNumber::compare(QVersionNumber::fromString(tag), QVersionNumber::fromString(m_currentVersion)) > 0;

        if (info.updateAvailable) {
            const QJsonArray assets = release.value(QLatin1String("assets")).toArray();
            QString installerName;
            Asset listed;
            for (const QJsonValue asset : assets) {
                const QJsonObject object = asset.toObject();
                const QString name = object.value(QLatin1String("name")).toString();
                if (name.endsWith(s_installerSuffix)) {
                    installerName = name;
                    info.downloadUrl = object.value(QLatin1String("browser_download_url")).toString();
                    const QJsonValue size = object.value(QLatin1String("size"));
                    listed.size = size.isDouble() && size.toDouble() >= 0 ? size.toInteger() : -1;
                    break;
                }
            }
            if (!installerName.isEmpty()) {
                for (const QJsonValue asset : assets) {
                    const QJsonObject object = asset.toObject();
                    if (object.value(QLatin1String("name")).toString() == installerName + s_checksumSuffix) {
                        listed.checksumUrl = QUrl(object.value(QLatin1String("browser_download_url")).toString());
                        break;
                    }
                }
                m_assets.insert(info.downloadUrl, listed);
            }
        }
        emit updateChecked(info);
    });
}

// Every download request: our User-Agent, redirects only to allowed addresses, and the stall limit,
// which each arriving byte restarts, so a slow but moving transfer is never cut.
QNetworkReply *Updater::get(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", s_userAgent);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = m_nam->get(request);
    const std::shared_ptr<Download> download = m_download;
    download->reply = reply;
    // The policy already refuses HTTPS to HTTP; this also stops a local address sending us on to
    // plain HTTP elsewhere.
    connect(reply, &QNetworkReply::redirected, this, [reply, download](const QUrl &to) {
        const QUrl next = reply->url().resolved(to);
        if (!isAllowedDownloadUrl(next) && download->failure.isEmpty()) {
            download->failure = refusal(QStringLiteral("follow a redirect"), next);
            reply->abort();
        }
    });
    auto *stall = new QTimer(reply);
    stall->setSingleShot(true);
    connect(reply, &QNetworkReply::downloadProgress, stall, qOverload<>(&QTimer::start));
    connect(stall, &QTimer::timeout, this, [this, reply, download] {
        if (download->failure.isEmpty())
            download->failure = QStringLiteral("The download stopped: no data arrived for %1 s; nothing was kept.")
                                    .arg(seconds(m_stallLimitMs));
        reply->abort();
    });
    stall->start(m_stallLimitMs);
    return reply;
}

void Updater::downloadUpdate(const QString &url)
{
    if (m_download)
        return; // the running download's result answers this request too
    const QUrl source(url, QUrl::TolerantMode);
    if (!isAllowedDownloadUrl(source)) {
        emit downloadFailed(refusal(QStringLiteral("download the update"), source));
        return;
    }
    const Asset asset = m_assets.value(url);
    if (!asset.checksumUrl.isEmpty() && !isAllowedDownloadUrl(asset.checksumUrl)) {
        emit downloadFailed(refusal(QStringLiteral("fetch the update's checksum"), asset.checksumUrl));
        return;
    }
    m_download = std::make_shared<Download>();
    m_download->source = source;
    m_download->expectedSize = asset.size;
    if (asset.checksumUrl.isEmpty()) {
        startDownload(source);
        return;
    }

    // The release promised a checksum: without it the installer is not kept, so fetch it first
    // and spare the large download when it is unavailable.
    const std::shared_ptr<Download> download = m_download;
    QNetworkReply *reply = get(asset.checksumUrl);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply, download](qint64 received, qint64 total) {
        if (download->failure.isEmpty() && (received > s_maxChecksumSize || total > s_maxChecksumSize)) {
            download->failure = QStringLiteral("The checksum file of the update is too large to be one");
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, download] {
        reply->deleteLater();
        if (download != m_download)
            return; // cancelled
        if (!download->failure.isEmpty()) {
            finishDownload(download->failure);
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            finishDownload(QStringLiteral("Cannot fetch the checksum of the update: ") + reply->errorString());
            return;
        }
        download->expectedSha256 = digestFromChecksumFile(reply->readAll());
        if (download->expectedSha256.isEmpty()) {
            finishDownload(QStringLiteral("The checksum file of the update holds no SHA-256 digest"));
            return;
        }
        startDownload(download->source);
    });
}

void Updater::startDownload(const QUrl &url)
{
    const std::shared_ptr<Download> download = m_download;
    QNetworkReply *reply = get(url);
    reply->setReadBufferSize(s_readBufferSize);

    connect(reply, &QNetworkReply::downloadProgress, this, [this, download](qint64 received, qint64 total) {
        if (download == m_download)
            emit downloadProgress(received, total >= 0 ? total : download->expectedSize);
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply, download] {
        if (download->failure.isEmpty() && !download->drain(reply))
            reply->abort(); // finishes the reply, which reports the failure
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, download] {
        reply->deleteLater();
        if (download != m_download)
            return; // cancelled
        if (download->failure.isEmpty() && reply->error() != QNetworkReply::NoError) {
            finishDownload(reply->errorString());
            return;
        }
        // Not an error to the network layer, yet no installer either (say a 304).
        if (download->failure.isEmpty() && !isSuccessStatus(reply)) {
            finishDownload(QStringLiteral("Unexpected answer from the download host: HTTP ") +
                           reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toString());
            return;
        }
        // Takes the rest of the body, and creates the file when an empty body never signalled readyRead.
        if (download->failure.isEmpty() && download->drain(reply) && download->complete(reply) &&
            !download->expectedSha256.isEmpty() && download->hash.result() != download->expectedSha256)
            download->failure = QStringLiteral("The downloaded update does not match its published SHA-256 "
                                               "checksum and was discarded");
        if (download->failure.isEmpty() && !download->file.commit())
            download->failure = QStringLiteral("Cannot write to ") + download->targetPath;
        finishDownload(download->failure, download->targetPath);
    });
}

void Updater::cancelDownload()
{
    const std::shared_ptr<Download> download = std::move(m_download);
    if (!download)
        return;
    download->file.cancelWriting();
    if (download->reply)
        download->reply->abort();
}

// Ends the download in flight with its one result signal.
void Updater::finishDownload(const QString &failure, const QString &filePath)
{
    const std::shared_ptr<Download> download = std::move(m_download);
    if (!failure.isEmpty()) {
        if (download)
            download->file.cancelWriting();
        emit downloadFailed(failure);
        return;
    }
    emit downloadFinished(filePath);
}

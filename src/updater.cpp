#include "updater.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStandardPaths>
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

// Every download request: our User-Agent, and redirects followed unless they leave HTTPS.
QNetworkRequest downloadRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", s_userAgent);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

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

// One installer download in flight: streamed into a QSaveFile so that only a complete,
// verified file ever replaces the target.
struct Download
{
    QSaveFile file;
    QString targetPath;
    QCryptographicHash hash{QCryptographicHash::Sha256};
    QByteArray expectedSha256;
    QString failure;

    bool openTarget(const QNetworkReply *reply)
    {
        QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        if (folder.isEmpty())
            folder = QDir::homePath();
        QDir().mkpath(folder);
        targetPath = folder + QLatin1Char('/') + targetFileName(reply);
        file.setFileName(targetPath);
        if (!file.open(QIODevice::WriteOnly)) {
            failure = QStringLiteral("Cannot write to ") + targetPath;
            return false;
        }
        return true;
    }

    // Moves whatever the reply holds to disk; false once the file cannot take it.
    bool drain(QNetworkReply *reply)
    {
        if (!isSuccessStatus(reply)) {
            reply->readAll(); // an error page, not the installer
            return true;
        }
        if (!file.isOpen() && !openTarget(reply))
            return false;
        while (reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(s_writeChunk);
            hash.addData(chunk);
            if (file.write(chunk) != chunk.size()) {
                failure = QStringLiteral("Cannot write to ") + targetPath;
                return false;
            }
        }
        return true;
    }
};

} // namespace

Updater::Updater(QNetworkAccessManager *nam, const QString &currentVersion, QObject *parent)
    : QObject(parent), m_nam(nam), m_currentVersion(currentVersion),
      m_releaseUrl(QStringLiteral("https://api.github.com/repos/tavrin/desktop/releases/latest"))
{
    qRegisterMetaType<UpdateInfo>();
}

void Updater::setReleaseUrl(const QUrl &url)
{
    m_releaseUrl = url;
}

void Updater::checkForUpdates()
{
    QNetworkRequest request(m_releaseUrl);
    request.setRawHeader("Accept", "application/vnd.github+json");
    request.setRawHeader("User-Agent", s_userAgent);
    QNetworkReply *reply = m_nam->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
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
            for (const QJsonValue &asset : assets) {
                const QString name = asset.toObject().value(QLatin1String("name")).toString();
                if (name.endsWith(s_installerSuffix)) {
                    installerName = name;
                    info.downloadUrl = asset.toObject().value(QLatin1String("browser_download_url")).toString();
                    break;
                }
            }
            if (!installerName.isEmpty()) {
                m_checksumUrls.remove(info.downloadUrl);
                for (const QJsonValue &asset : assets) {
                    const QJsonObject object = asset.toObject();
                    if (object.value(QLatin1String("name")).toString() == installerName + s_checksumSuffix) {
                        m_checksumUrls.insert(info.downloadUrl,
                                              QUrl(object.value(QLatin1String("browser_download_url")).toString()));
                        break;
                    }
                }
            }
        }
        emit updateChecked(info);
    });
}

void Updater::downloadUpdate(const QString &url)
{
    const QUrl source(url, QUrl::TolerantMode);
    const auto checksum = m_checksumUrls.constFind(url);
    if (checksum == m_checksumUrls.constEnd()) {
        startDownload(source, {});
        return;
    }

    // The release promised a checksum: without it the installer is not kept, so fetch it first
    // and spare the large download when it is unavailable.
    QNetworkReply *reply = m_nam->get(downloadRequest(*checksum));
    auto tooLarge = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply, tooLarge](qint64 received, qint64 total) {
        if (!*tooLarge && (received > s_maxChecksumSize || total > s_maxChecksumSize)) {
            *tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, source, tooLarge] {
        reply->deleteLater();
        if (*tooLarge) {
            emit downloadFailed(QStringLiteral("The checksum file of the update is too large to be one"));
            return;
        }
        if (reply->error() != QNetworkReply::NoError) {
            emit downloadFailed(QStringLiteral("Cannot fetch the checksum of the update: ") + reply->errorString());
            return;
        }
        const QByteArray expected = digestFromChecksumFile(reply->readAll());
        if (expected.isEmpty()) {
            emit downloadFailed(QStringLiteral("The checksum file of the update holds no SHA-256 digest"));
            return;
        }
        startDownload(source, expected);
    });
}

void Updater::startDownload(const QUrl &url, const QByteArray &expectedSha256)
{
    QNetworkReply *reply = m_nam->get(downloadRequest(url));
    reply->setReadBufferSize(s_readBufferSize);
    auto download = std::make_shared<Download>();
    download->expectedSha256 = expectedSha256;

    connect(reply, &QNetworkReply::downloadProgress, this, &Updater::downloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, [reply, download] {
        if (download->failure.isEmpty() && !download->drain(reply))
            reply->abort(); // finishes the reply, which reports the failure
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, download] {
        reply->deleteLater();
        if (download->failure.isEmpty() && reply->error() != QNetworkReply::NoError) {
            download->file.cancelWriting();
            emit downloadFailed(reply->errorString());
            return;
        }
        // Not an error to the network layer, yet no installer either (say a 304).
        if (download->failure.isEmpty() && !isSuccessStatus(reply)) {
            emit downloadFailed(QStringLiteral("Unexpected answer from the download host: HTTP ") +
                                reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toString());
            return;
        }
        // Takes the rest of the body, and creates the file when an empty body never signalled readyRead.
        if (download->failure.isEmpty())
            download->drain(reply);
        if (!download->failure.isEmpty()) {
            download->file.cancelWriting();
            emit downloadFailed(download->failure);
            return;
        }
        if (!download->expectedSha256.isEmpty() && download->hash.result() != download->expectedSha256) {
            download->file.cancelWriting();
            emit downloadFailed(QStringLiteral("The downloaded update does not match its published SHA-256 "
                                               "checksum and was discarded"));
            return;
        }
        if (!download->file.commit()) {
            emit downloadFailed(QStringLiteral("Cannot write to ") + download->targetPath);
            return;
        }
        emit downloadFinished(download->targetPath);
    });
}

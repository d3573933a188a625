#include "core/updater.h"

#include "base/userfolders.h"
#include "core/settings.h"
#include "version.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QTimeZone>
#include <QTimer>
#include <QVersionNumber>

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

const QByteArray s_userAgent = QByteArrayLiteral("Tavrin-Desktop");
const QLatin1String s_installerSuffix("-win64.exe");
const QLatin1String s_debianPackagePrefix("tavrin-desktop_");
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
// The release list is read a page at a time; ten of GitHub's largest descriptions still fit the limit above.
constexpr int s_releasesPerPage = 10;
// What the settings keep of a release's notes, for a "not modified" answer.
constexpr qsizetype s_maxStoredNotes = 64 * 1024;
// Automatic checks ask once a day at most; a rate-limit wait lasts no longer than that either.
constexpr qint64 s_checkIntervalSecs = 24 * 60 * 60;
constexpr qint64 s_maxWaitSecs = 24 * 60 * 60;
// A download must move at least this much in each slow-download window. Checked a few times
// per window, always over the whole window before.
constexpr qint64 s_minWindowBytes = 1024;
constexpr int s_windowChecks = 4;

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

QString versionOfTag(const QJsonObject &release)
{
    QString tag = release.value(QLatin1String("tag_name")).toString();
    if (tag.startsWith(QLatin1Char('v')))
        tag.remove(0, 1);
    return tag;
}

// Digits only: SemVer's numeric identifier ("+1" or " 1" are text).
bool isNumericIdentifier(const QString &part)
{
    return !part.isEmpty() && std::all_of(part.cbegin(), part.cend(), [](QChar c) { return c.isDigit(); });
}

QString withoutLeadingZeros(const QString &digits)
{
    qsizetype start = 0;
    while (start + 1 < digits.size() && digits.at(start) == QLatin1Char('0'))
        ++start;
    return digits.mid(start);
}

// The pre-release part of a version: what follows a "-" after the numbers, without build
// metadata ("+..."), which has no say in the order.
QString prereleaseOf(const QString &version, qsizetype suffixIndex)
{
    QString rest = version.mid(suffixIndex);
    rest.truncate(rest.indexOf(QLatin1Char('+')) < 0 ? rest.size() : rest.indexOf(QLatin1Char('+')));
    return rest.startsWith(QLatin1Char('-')) ? rest.mid(1) : QString();
}

int comparePrereleases(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty()) // the release itself ranks above all of its pre-releases
        return int(a.isEmpty()) - int(b.isEmpty());
    const QStringList x = a.split(QLatin1Char('.'));
    const QStringList y = b.split(QLatin1Char('.'));
    for (qsizetype i = 0; i < qMin(x.size(), y.size()); ++i) {
        const bool xNumber = isNumericIdentifier(x.at(i));
        const bool yNumber = isNumericIdentifier(y.at(i));
        if (xNumber && yNumber) {
            // Longer digit runs are larger numbers (leading zeros aside), with no overflow.
            const QString xDigits = withoutLeadingZeros(x.at(i));
            const QString yDigits = withoutLeadingZeros(y.at(i));
            if (xDigits.size() != yDigits.size())
                return xDigits.size() < yDigits.size() ? -1 : 1;
            if (const int order = xDigits.compare(yDigits))
                return order < 0 ? -1 : 1;
        } else if (xNumber != yNumber) {
            return xNumber ? -1 : 1; // numbers rank below words
        } else if (const int order = x.at(i).compare(y.at(i))) {
            return order < 0 ? -1 : 1;
        }
    }
    return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

// The non-draft release of the highest version in a page of the release list (the first of equals).
QJsonObject newestRelease(const QJsonArray &releases)
{
    QJsonObject newest;
    for (const QJsonValue value : releases) {
        const QJsonObject release = value.toObject();
        if (release.isEmpty() || release.value(QLatin1String("draft")).toBool())
            continue;
        if (newest.isEmpty() || Updater::compareVersions(versionOfTag(release), versionOfTag(newest)) > 0)
            newest = release;
    }
    return newest;
}

// What a "not modified" answer needs again of a release, and nothing more.
QJsonObject shortForm(const QJsonObject &release)
{
    QJsonArray assets;
    for (const QJsonValue value : release.value(QLatin1String("assets")).toArray()) {
        const QJsonObject asset = value.toObject();
        QJsonObject kept;
        for (const char *key : {"name", "browser_download_url", "size"}) {
            if (asset.contains(QLatin1String(key)))
                kept.insert(QLatin1String(key), asset.value(QLatin1String(key)));
        }
        assets.append(kept);
    }
    return {{QLatin1String("tag_name"), release.value(QLatin1String("tag_name"))},
            {QLatin1String("html_url"), release.value(QLatin1String("html_url"))},
            {QLatin1String("body"), release.value(QLatin1String("body")).toString().left(s_maxStoredNotes)},
            {QLatin1String("assets"), assets}};
}

// An HTTP-date as Retry-After may carry it: "Wed, 21 Oct 2026 07:28:00 GMT".
QDateTime fromHttpDate(const QByteArray &text)
{
    QDateTime time = QLocale::c().toDateTime(QString::fromLatin1(text).simplified(),
                                             QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    time.setTimeZone(QTimeZone::utc());
    return time;
}

// The end of the wait a refusal announces: GitHub's used-up hourly quota (x-ratelimit-*) or a
// Retry-After. Invalid when the answer is no rate limit. A clock apart from the host's turns it
// neither into no wait at all nor into days of silence.
QDateTime rateLimitEnd(const QNetworkReply *reply, const QDateTime &now)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 403 && status != 429)
        return {};
    QDateTime until;
    if (reply->rawHeader("x-ratelimit-remaining").trimmed() == "0") {
        bool ok = false;
        const qint64 reset = reply->rawHeader("x-ratelimit-reset").trimmed().toLongLong(&ok);
        until = ok ? QDateTime::fromSecsSinceEpoch(reset, QTimeZone::utc()) : now.addSecs(60 * 60);
    }
    const QByteArray retryAfter = reply->rawHeader("Retry-After").trimmed();
    if (!retryAfter.isEmpty()) {
        bool ok = false;
        const qint64 seconds = retryAfter.toLongLong(&ok);
        const QDateTime after = ok ? now.addSecs(qMax<qint64>(seconds, 0)) : fromHttpDate(retryAfter);
        if (after.isValid() && (!until.isValid() || after > until))
            until = after;
    }
    if (!until.isValid())
        return {};
    return qBound(now.addSecs(60), until, now.addSecs(s_maxWaitSecs));
}

// The wait's end as a clock shows it, rounded up to the minute: "try again after 14:05" must hold at 14:05.
QString waitMessage(const QDateTime &until, const QDateTime &now)
{
    QDateTime local = until.toLocalTime();
    const QTime time = local.time();
    if (time.second() != 0 || time.msec() != 0)
        local = local.addMSecs(60000 - time.second() * 1000 - time.msec());
    const QString when = local.toString(local.date() == now.toLocalTime().date() ? QStringLiteral("HH:mm")
                                                                                 : QStringLiteral("yyyy-MM-dd HH:mm"));
    return QStringLiteral("GitHub's limit for this network is used up; try again after %1").arg(when);
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
        QString folder = UserFolders::downloads();
        if (folder.isEmpty())
            folder = UserFolders::home();
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
        // A body that simply ends when the connection closes may have been cut anywhere.
        if (expected < 0 && expectedSha256.isEmpty()) {
            failure = QStringLiteral("Nothing confirms that the download is complete: the release lists no size or "
                                     "checksum for it, and the server announced no length; nothing was kept.");
            return false;
        }
        return true;
    }
};

Updater::Updater(QNetworkAccessManager *nam, const QString &currentVersion, QObject *parent)
    : QObject(parent), m_nam(nam), m_platform(Installation::platform()), m_dpkgInfoDir(Installation::dpkgInfoDir()),
      m_currentVersion(currentVersion), m_releaseUrl(releaseFeed(QLatin1String(Tavrin::RepositoryUrl)))
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

void Updater::setTimeLimits(int queryMs, int stallMs, int slowWindowMs)
{
    m_queryLimitMs = queryMs;
    m_stallLimitMs = stallMs;
    m_slowWindowMs = slowWindowMs;
}

void Updater::setSettings(Settings *settings)
{
    m_settings = settings;
}

void Updater::setPlatform(const QString &platform)
{
    m_platform = platform;
}

void Updater::setDpkgInfoDir(const QString &dir)
{
    m_dpkgInfoDir = dir;
}

QString Updater::assetName(const QStringList &assetNames, const QString &platform, bool fromDebianPackage,
                           const QString &debianArchitecture)
{
    const auto first = [&assetNames](const auto &fits) {
        const auto found = std::find_if(assetNames.cbegin(), assetNames.cend(), fits);
        return found == assetNames.cend() ? QString() : *found;
    };
    if (platform == QLatin1String("windows"))
        return first([](const QString &name) { return name.endsWith(s_installerSuffix); });
    if (platform == QLatin1String("linux") && fromDebianPackage) {
        const QString suffix = QLatin1Char('_') + debianArchitecture + QLatin1String(".deb");
        return first([&suffix](const QString &name) {
            return name.startsWith(s_debianPackagePrefix) && name.endsWith(suffix) &&
                   name.size() > s_debianPackagePrefix.size() + suffix.size();
        });
    }
    return {}; // a build folder, another package, macOS: nothing of ours fits
}

int Updater::compareVersions(const QString &a, const QString &b)
{
    qsizetype aEnd = 0;
    qsizetype bEnd = 0;
    const QVersionNumber x = QVersionNumber::fromString(a, &aEnd);
    const QVersionNumber y = QVersionNumber::fromString(b, &bEnd);
    if (const int order = QVersionNumber::compare(x, y))
        return order < 0 ? -1 : 1;
    if (x.isNull()) // two unreadable versions: neither is newer
        return 0;
    return comparePrereleases(prereleaseOf(a, aEnd), prereleaseOf(b, bEnd));
}

bool Updater::automaticCheckDue(const QDateTime &lastAnswer, const QDateTime &waitUntil, const QDateTime &now)
{
    if (waitUntil.isValid() && now < waitUntil && waitUntil <= now.addSecs(s_maxWaitSecs))
        return false;
    return !(lastAnswer.isValid() && lastAnswer <= now && now < lastAnswer.addSecs(s_checkIntervalSecs));
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
    check(false);
}

bool Updater::checkAutomatically()
{
    if (m_settings && !automaticCheckDue(m_settings->updateAnsweredAt(), m_settings->updateWaitUntil(),
                                         QDateTime::currentDateTimeUtc()))
        return false;
    check(true);
    return true;
}

void Updater::skipVersion(const QString &version)
{
    if (m_settings)
        m_settings->setSkippedVersion(version);
}

// The latest release, or with pre-releases a page of the release list.
QUrl Updater::feedUrl() const
{
    if (!m_settings || !m_settings->includePrereleases())
        return m_releaseUrl;
    QUrl list = m_releaseUrl;
    QString path = list.path();
    if (path.endsWith(QLatin1String("/latest")))
        path.chop(7);
    list.setPath(path);
    list.setQuery(QStringLiteral("per_page=%1").arg(s_releasesPerPage));
    return list;
}

void Updater::check(bool automatic)
{
    const QUrl feed = feedUrl();
    QNetworkRequest request(feed);
    request.setRawHeader("Accept", "application/vnd.github+json");
    request.setRawHeader("User-Agent", s_userAgent);
    // The ETag is good only with the release it came with, from the same address.
    QJsonObject stored;
    if (m_settings && !m_settings->updateEtag().isEmpty() &&
        m_settings->updateRelease().value(QLatin1String("feed")).toString() == feed.toString()) {
        stored = m_settings->updateRelease().value(QLatin1String("release")).toObject();
        request.setRawHeader("If-None-Match", m_settings->updateEtag().toUtf8());
    }
    QNetworkReply *reply = m_nam->get(request);
    // The answer is taken out of the reply as it comes and counted, so an endless one is refused
    // once past the limit and costs no more memory than that. (A full read buffer alone would not
    // do: the network layer may stop just at its size and wait.)
    reply->setReadBufferSize(s_maxReleaseSize + 1);
    auto body = std::make_shared<QByteArray>();
    auto failure = std::make_shared<QString>();
    const auto failWith = [reply, failure](const QString &message) {
        if (failure->isEmpty()) {
            *failure = message;
            reply->abort();
        }
    };
    const QString tooLarge =
        QStringLiteral("The update server's answer is larger than %1 MiB, too large for a release.")
            .arg(s_maxReleaseSize >> 20);
    // Takes what arrived, at most one byte past the limit.
    const auto take = [reply, body] {
        if (reply->isOpen())
            body->append(reply->read(s_maxReleaseSize + 1 - body->size()));
    };
    const auto checkSize = [reply, body, take, failWith, tooLarge] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        take();
        if (body->size() > s_maxReleaseSize || (length.isValid() && length.toLongLong() > s_maxReleaseSize))
            failWith(tooLarge);
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, checkSize);
    connect(reply, &QNetworkReply::readyRead, this, checkSize);
    auto *limit = new QTimer(reply);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, this, [this, failWith] {
        failWith(QStringLiteral("The update server did not answer within %1 s.").arg(seconds(m_queryLimitMs)));
    });
    limit->start(m_queryLimitMs);

    connect(reply, &QNetworkReply::finished, this,
            [this, reply, body, take, failure, tooLarge, feed, stored, automatic] {
                reply->deleteLater();
                take();
                if (failure->isEmpty() && body->size() > s_maxReleaseSize)
                    *failure = tooLarge;
                if (!failure->isEmpty()) {
                    emit checkFailed(*failure);
                    return;
                }
                const QDateTime now = QDateTime::currentDateTimeUtc();
                const QDateTime wait = rateLimitEnd(reply, now);
                if (wait.isValid()) {
                    if (m_settings)
                        m_settings->setUpdateWaitUntil(wait);
                    emit checkFailed(waitMessage(wait, now));
                    return;
                }
                QJsonObject release;
                const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                if (status == 304 && !stored.isEmpty()) {
                    release = stored; // the same release as last time
                    m_settings->setUpdateAnsweredAt(now);
                } else if (reply->error() != QNetworkReply::NoError) {
                    emit checkFailed(reply->errorString());
                    return;
                } else if (!isSuccessStatus(reply)) { // a 304 to a question we did not ask, say
                    emit checkFailed(QStringLiteral("Unexpected answer from the update server: HTTP %1").arg(status));
                    return;
                } else {
                    const QJsonDocument answer = QJsonDocument::fromJson(*body);
                    release = answer.isArray() ? newestRelease(answer.array()) : answer.object();
                    if (m_settings && !release.isEmpty())
                        m_settings->setUpdateAnswer(
                            now, QString::fromLatin1(reply->rawHeader("ETag")),
                            {{QLatin1String("feed"), feed.toString()}, {QLatin1String("release"), shortForm(release)}});
                }
                emit updateChecked(releaseInfo(release, automatic));
            });
}

UpdateInfo Updater::releaseInfo(const QJsonObject &release, bool automatic)
{
    UpdateInfo info;
    info.latestVersion = versionOfTag(release);
    info.currentVersion = m_currentVersion;
    info.releaseNotes = release.value(QLatin1String("body")).toString();
    info.automatic = automatic;
    info.updateAvailable = compareVersions(info.latestVersion, m_currentVersion) > 0;
    info.skipped = m_settings && !info.latestVersion.isEmpty() && m_settings->skippedVersion() == info.latestVersion;
    // It goes to the browser: a web address only, never a file or a program's scheme.
    const QUrl page(release.value(QLatin1String("html_url")).toString());
    const QString scheme = page.scheme().toLower();
    info.releasePage = (scheme == QLatin1String("https") || scheme == QLatin1String("http")) && !page.host().isEmpty()
                           ? page.toString()
                           : QLatin1String(Tavrin::RepositoryUrl) + QLatin1String("/releases");

    const QString executable = QCoreApplication::applicationFilePath();
    const bool fromDebianPackage =
        m_platform == QLatin1String("linux") && Installation::listedByDpkg(executable, m_dpkgInfoDir);
    info.installation = Installation::kind(m_platform, executable, fromDebianPackage);
    if (!info.updateAvailable)
        return info;

    const QJsonArray assets = release.value(QLatin1String("assets")).toArray();
    QStringList names;
    for (const QJsonValue asset : assets)
        names << asset.toObject().value(QLatin1String("name")).toString();
    info.assetName = assetName(names, m_platform, fromDebianPackage);
    if (info.assetName.isEmpty())
        return info;
    Asset listed;
    for (const QJsonValue asset : assets) {
        const QJsonObject object = asset.toObject();
        const QString name = object.value(QLatin1String("name")).toString();
        if (name == info.assetName && info.downloadUrl.isEmpty()) {
            info.downloadUrl = object.value(QLatin1String("browser_download_url")).toString();
            const QJsonValue size = object.value(QLatin1String("size"));
            listed.size = size.isDouble() && size.toDouble() >= 0 ? size.toInteger() : -1;
        } else if (name == info.assetName + s_checksumSuffix && listed.checksumUrl.isEmpty()) {
            listed.checksumUrl = QUrl(object.value(QLatin1String("browser_download_url")).toString());
        }
    }
    m_assets.insert(info.downloadUrl, listed);
    return info;
}

// Every download request: our User-Agent, redirects only to allowed addresses, the stall limit,
// which each arriving byte restarts, and the slow-download window, which ends a trickle that keeps
// restarting it.
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

    // The bytes seen at each check; the oldest is one window back from the newest.
    auto *pace = new QTimer(reply);
    auto seen = std::make_shared<qint64>(0);
    auto history = std::make_shared<QList<qint64>>(QList<qint64>{0});
    connect(reply, &QNetworkReply::downloadProgress, pace, [seen](qint64 received) { *seen = received; });
    connect(pace, &QTimer::timeout, this, [this, reply, download, seen, history] {
        history->append(*seen);
        if (history->size() > s_windowChecks + 1)
            history->removeFirst();
        if (history->size() <= s_windowChecks || history->last() - history->first() >= s_minWindowBytes)
            return;
        if (download->failure.isEmpty())
            download->failure =
                QStringLiteral("The download was too slow: less than 1 KiB arrived in %1 s; nothing was "
                               "kept.")
                    .arg(seconds(m_slowWindowMs));
        reply->abort();
    });
    pace->start(qMax(1, m_slowWindowMs / s_windowChecks));
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

#include "core/settings.h"

#include "base/jsonfile.h"
#include "base/userfolders.h"
#include "core/mcpserver.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>

namespace {

const QString s_permissionMode = QStringLiteral("permission_mode");
const QString s_checkUpdates = QStringLiteral("check_updates");
const QString s_recentProjects = QStringLiteral("recent_projects");
const QString s_activeProject = QStringLiteral("active_project");
const QString s_firstRunDone = QStringLiteral("first_run_done");
const QString s_windowGeometry = QStringLiteral("window_geometry");
const QString s_trayNoticeShown = QStringLiteral("tray_notice_shown");
const QString s_lastUpdateCheck = QStringLiteral("last_update_check");
const QString s_serverTools = QStringLiteral("server_tool_count");
const QString s_godotPath = QStringLiteral("godot_path");
const QString s_updateAnsweredAt = QStringLiteral("update_answered_at");
const QString s_updateEtag = QStringLiteral("update_etag");
const QString s_updateRelease = QStringLiteral("update_release");
const QString s_updateWaitUntil = QStringLiteral("update_wait_until");
const QString s_skippedVersion = QStringLiteral("skipped_version");
const QString s_includePrereleases = QStringLiteral("include_prereleases");
constexpr int s_maxRecent = 10;

QJsonArray withoutPath(QJsonArray list, const QString &path)
{
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        if (list.at(i).toObject().value(QLatin1String("path")).toString() == path)
            list.removeAt(i);
    }
    return list;
}

// Times of the update schedule are kept in UTC, so that a change of time zone moves nothing.
QString utcText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace

Settings::Settings(QObject *parent) : QObject(parent)
{
    load();
}

QString Settings::filePath()
{
    return UserFolders::data() + QLatin1String("/Tavrin/settings.json");
}

void Settings::load()
{
    const JsonFile::ReadResult read = JsonFile::read(filePath());
    switch (read.status) {
    case JsonFile::ReadStatus::Ok:
        m_data = read.object;
        break;
    case JsonFile::ReadStatus::NotObject:
        m_data = QJsonObject();
        m_keepDamagedFile = true;
        break;
    case JsonFile::ReadStatus::Unreadable:
        // Most likely permissions: the user's settings are still in there, so run on defaults and
        // leave the file alone until it can be read again.
        qWarning().noquote() << QStringLiteral("Settings file %1 cannot be read (%2); running on defaults and "
                                               "not saving over it")
                                    .arg(filePath(), read.errorDetail);
        m_fileUnreadable = true;
        break;
    case JsonFile::ReadStatus::Missing:
        break;
    }
    if (!m_data.contains(s_permissionMode))
        m_data.insert(s_permissionMode, McpServer::defaultMode());
    if (!m_data.contains(s_checkUpdates))
        m_data.insert(s_checkUpdates, true);
    if (!m_data.contains(s_recentProjects))
        m_data.insert(s_recentProjects, QJsonArray());
}

void Settings::save()
{
    const QString path = filePath();
    if (m_fileUnreadable) {
        QFile file(path);
        if (file.exists() && !file.open(QIODevice::ReadOnly))
            return;
        // Readable again, but never loaded: keep what the user had, as for a damaged file.
        m_fileUnreadable = false;
        m_keepDamagedFile = true;
    }
    if (m_keepDamagedFile) {
        // The user may still recover their recent projects from it by hand.
        const QString backup = path + QLatin1String(".bad");
        QFile::remove(backup);
        if (QFile::copy(path, backup) || !QFile::exists(path))
            m_keepDamagedFile = false;
        else
            return; // never destroy the only copy
    }
    // Failures stay silent: the change lives on in memory until the next save.
    (void)JsonFile::write(path, m_data);
}

QString Settings::permissionMode() const
{
    const QJsonValue value = m_data.value(s_permissionMode);
    return value.isString() ? value.toString() : McpServer::defaultMode();
}

bool Settings::checkUpdates() const
{
    const QJsonValue value = m_data.value(s_checkUpdates);
    return value.isBool() ? value.toBool() : true;
}

QJsonArray Settings::recentProjects() const
{
    return m_data.value(s_recentProjects).toArray();
}

QString Settings::activeProject() const
{
    return m_data.value(s_activeProject).toString();
}

bool Settings::isFirstRun() const
{
    return !m_data.contains(s_firstRunDone);
}

void Settings::setPermissionMode(const QString &mode)
{
    m_data.insert(s_permissionMode, mode);
    save();
    emit permissionModeChanged(mode);
}

void Settings::setCheckUpdates(bool enabled)
{
    m_data.insert(s_checkUpdates, enabled);
    save();
}

void Settings::addRecentProject(const QString &path, const QString &name)
{
    QJsonArray list = withoutPath(recentProjects(), path);
    QJsonObject entry;
    entry.insert(QLatin1String("path"), path);
    entry.insert(QLatin1String("name"), name);
    entry.insert(QLatin1String("last_opened"), QDateTime::currentDateTime().toString(Qt::ISODate));
    list.prepend(entry);
    while (list.size() > s_maxRecent)
        list.removeLast();
    m_data.insert(s_recentProjects, list);
    save();
}

void Settings::removeRecentProject(const QString &path)
{
    m_data.insert(s_recentProjects, withoutPath(recentProjects(), path));
    save();
}

void Settings::setActiveProject(const QString &path)
{
    m_data.insert(s_activeProject, path);
    save();
    emit activeProjectChanged(path);
}

void Settings::markFirstRunDone()
{
    m_data.insert(s_firstRunDone, true);
    save();
}

QRect Settings::windowGeometry() const
{
    const QJsonObject stored = m_data.value(s_windowGeometry).toObject();
    const QRect rect(stored.value(QLatin1String("x")).toInt(), stored.value(QLatin1String("y")).toInt(),
                     stored.value(QLatin1String("width")).toInt(), stored.value(QLatin1String("height")).toInt());
    return rect.isValid() ? rect : QRect();
}

bool Settings::windowMaximized() const
{
    return m_data.value(s_windowGeometry).toObject().value(QLatin1String("maximized")).toBool();
}

void Settings::setWindowGeometry(const QRect &geometry, bool maximized)
{
    const QJsonObject stored{{QLatin1String("x"), geometry.x()},
                             {QLatin1String("y"), geometry.y()},
                             {QLatin1String("width"), geometry.width()},
                             {QLatin1String("height"), geometry.height()},
                             {QLatin1String("maximized"), maximized}};
    if (m_data.value(s_windowGeometry).toObject() == stored)
        return; // closing to the tray again and again writes nothing new
    m_data.insert(s_windowGeometry, stored);
    save();
}

bool Settings::trayNoticeShown() const
{
    return m_data.value(s_trayNoticeShown).toBool();
}

void Settings::markTrayNoticeShown()
{
    m_data.insert(s_trayNoticeShown, true);
    save();
}

QJsonObject Settings::lastUpdateCheck() const
{
    return m_data.value(s_lastUpdateCheck).toObject();
}

void Settings::setLastUpdateCheck(const QString &result, const QString &detail)
{
    m_data.insert(s_lastUpdateCheck,
                  QJsonObject{{QLatin1String("time"), QDateTime::currentDateTime().toString(Qt::ISODate)},
                              {QLatin1String("result"), result},
                              {QLatin1String("detail"), detail}});
    save();
}

int Settings::serverToolCount() const
{
    const QJsonValue value = m_data.value(s_serverTools);
    return value.isDouble() ? value.toInt() : -1;
}

void Settings::setServerToolCount(int count)
{
    if (count == serverToolCount())
        return;
    m_data.insert(s_serverTools, count);
    save();
    emit serverToolCountChanged(count);
}

QString Settings::godotPath() const
{
    return m_data.value(s_godotPath).toString();
}

void Settings::setGodotPath(const QString &path)
{
    if (path.isEmpty())
        m_data.remove(s_godotPath);
    else
        m_data.insert(s_godotPath, path);
    save();
}

QDateTime Settings::updateAnsweredAt() const
{
    return QDateTime::fromString(m_data.value(s_updateAnsweredAt).toString(), Qt::ISODateWithMs);
}

QString Settings::updateEtag() const
{
    return m_data.value(s_updateEtag).toString();
}

QJsonObject Settings::updateRelease() const
{
    return m_data.value(s_updateRelease).toObject();
}

void Settings::setUpdateAnswer(const QDateTime &time, const QString &etag, const QJsonObject &release)
{
    m_data.insert(s_updateAnsweredAt, utcText(time));
    m_data.insert(s_updateEtag, etag);
    m_data.insert(s_updateRelease, release);
    m_data.remove(s_updateWaitUntil); // the host answered: whatever wait there was is over
    save();
}

void Settings::setUpdateAnsweredAt(const QDateTime &time)
{
    m_data.insert(s_updateAnsweredAt, utcText(time));
    m_data.remove(s_updateWaitUntil);
    save();
}

QDateTime Settings::updateWaitUntil() const
{
    return QDateTime::fromString(m_data.value(s_updateWaitUntil).toString(), Qt::ISODateWithMs);
}

void Settings::setUpdateWaitUntil(const QDateTime &time)
{
    m_data.insert(s_updateWaitUntil, utcText(time));
    save();
}

QString Settings::skippedVersion() const
{
    return m_data.value(s_skippedVersion).toString();
}

void Settings::setSkippedVersion(const QString &version)
{
    m_data.insert(s_skippedVersion, version);
    save();
}

bool Settings::includePrereleases() const
{
    return m_data.value(s_includePrereleases).toBool();
}

void Settings::setIncludePrereleases(bool include)
{
    m_data.insert(s_includePrereleases, include);
    save();
}

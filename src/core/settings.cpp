#include "core/settings.h"

#include "base/jsonfile.h"
#include "base/userfolders.h"
#include "core/mcpserver.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>

#include <algorithm>

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
    fillDefaults();
}

void Settings::fillDefaults()
{
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
    if (JsonFile::write(path, m_data))
        m_unsaved.clear();
}

void Settings::reload()
{
    // A damaged or unreadable file is not taken over: load() decided how to treat it.
    if (m_keepDamagedFile || m_fileUnreadable)
        return;
    const JsonFile::ReadResult read = JsonFile::read(filePath());
    if (read.status != JsonFile::ReadStatus::Ok)
        return; // gone or broken since: what is in memory is all there is
    QJsonObject data = read.object;
    for (const QString &key : std::as_const(m_unsaved)) {
        if (m_data.contains(key))
            data.insert(key, m_data.value(key));
        else
            data.remove(key);
    }
    const QString project = activeProject();
    const QJsonObject before = m_data;
    m_data = data;
    fillDefaults();
    if (m_data == before)
        return;
    if (activeProject() != project)
        emit activeProjectChanged(activeProject());
    emit changedElsewhere();
}

void Settings::set(const QString &key, const QJsonValue &value)
{
    set({{key, value}});
}

void Settings::set(const QList<std::pair<QString, QJsonValue>> &changes)
{
    reload();
    for (const auto &[key, value] : changes) {
        if (value.isUndefined())
            m_data.remove(key);
        else
            m_data.insert(key, value);
        if (!m_unsaved.contains(key))
            m_unsaved << key;
    }
    save();
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
    set(s_permissionMode, mode);
    emit permissionModeChanged(mode);
}

void Settings::setCheckUpdates(bool enabled)
{
    set(s_checkUpdates, enabled);
}

void Settings::addRecentProject(const QString &path, const QString &name)
{
    reload(); // the list as it is now, with projects the command line may have added
    QJsonArray list = withoutPath(recentProjects(), path);
    QJsonObject entry;
    entry.insert(QLatin1String("path"), path);
    entry.insert(QLatin1String("name"), name);
    entry.insert(QLatin1String("last_opened"), QDateTime::currentDateTime().toString(Qt::ISODate));
    list.prepend(entry);
    while (list.size() > s_maxRecent)
        list.removeLast();
    set(s_recentProjects, list);
}

void Settings::removeRecentProject(const QString &path)
{
    reload();
    set(s_recentProjects, withoutPath(recentProjects(), path));
}

void Settings::restoreRecentProject(const QJsonObject &entry, int index)
{
    reload();
    QJsonArray list = recentProjects();
    const QString path = entry.value(QLatin1String("path")).toString();
    if (withoutPath(list, path).size() != list.size())
        return;
    list.insert(std::clamp(index, 0, int(list.size())), entry);
    while (list.size() > s_maxRecent)
        list.removeLast();
    set(s_recentProjects, list);
}

void Settings::setActiveProject(const QString &path)
{
    set(s_activeProject, path);
    emit activeProjectChanged(path);
}

void Settings::markFirstRunDone()
{
    set(s_firstRunDone, true);
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
    set(s_windowGeometry, stored);
}

bool Settings::trayNoticeShown() const
{
    return m_data.value(s_trayNoticeShown).toBool();
}

void Settings::markTrayNoticeShown()
{
    set(s_trayNoticeShown, true);
}

QJsonObject Settings::lastUpdateCheck() const
{
    return m_data.value(s_lastUpdateCheck).toObject();
}

void Settings::setLastUpdateCheck(const QString &result, const QString &detail)
{
    set(s_lastUpdateCheck, QJsonObject{{QLatin1String("time"), QDateTime::currentDateTime().toString(Qt::ISODate)},
                                       {QLatin1String("result"), result},
                                       {QLatin1String("detail"), detail}});
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
    set(s_serverTools, count);
    emit serverToolCountChanged(count);
}

QString Settings::godotPath() const
{
    return m_data.value(s_godotPath).toString();
}

void Settings::setGodotPath(const QString &path)
{
    set(s_godotPath, path.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(path));
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
    // The host answered: whatever wait there was is over.
    set({{s_updateAnsweredAt, utcText(time)},
         {s_updateEtag, etag},
         {s_updateRelease, release},
         {s_updateWaitUntil, QJsonValue(QJsonValue::Undefined)}});
}

void Settings::setUpdateAnsweredAt(const QDateTime &time)
{
    set({{s_updateAnsweredAt, utcText(time)}, {s_updateWaitUntil, QJsonValue(QJsonValue::Undefined)}});
}

QDateTime Settings::updateWaitUntil() const
{
    return QDateTime::fromString(m_data.value(s_updateWaitUntil).toString(), Qt::ISODateWithMs);
}

void Settings::setUpdateWaitUntil(const QDateTime &time)
{
    set(s_updateWaitUntil, utcText(time));
}

QString Settings::skippedVersion() const
{
    return m_data.value(s_skippedVersion).toString();
}

void Settings::setSkippedVersion(const QString &version)
{
    set(s_skippedVersion, version);
}

bool Settings::includePrereleases() const
{
    return m_data.value(s_includePrereleases).toBool();
}

void Settings::setIncludePrereleases(bool include)
{
    set(s_includePrereleases, include);
}

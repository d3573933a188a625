#include "core/godotproject.h"

#include "base/jsonfile.h"
#include "core/backups.h"
#include "core/godotconfigedit.h"
#include "core/godoteditors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace {

const QLatin1String s_marker("/project.godot");
const QLatin1String s_addonFolder("/addons/tavrin_mcp");
// The project's data folder: .godot, or godot for a project that asks for a visible one.
const QLatin1String s_dataFolders[] = {QLatin1String("/.godot"), QLatin1String("/godot")};
const QLatin1String s_sessionFile("/tavrin/editor.json");
// No project.godot Godot wrote comes near this; a bigger file is not read into memory.
constexpr qint64 s_maxSize = 64 * 1024 * 1024;

bool readFile(const QString &path, QByteArray *bytes, QString *error)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        *error = QStringLiteral("%1 is a folder, not a file.").arg(path);
        return false;
    }
    if (!info.exists()) {
        *error = QStringLiteral("%1 does not exist.").arg(path);
        return false;
    }
    if (info.size() > s_maxSize) {
        *error = QStringLiteral("%1 is too large to be a Godot settings file.").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QString GodotProject::pluginPath()
{
    return QStringLiteral("res://addons/tavrin_mcp/plugin.cfg");
}

bool GodotProject::isProject(const QString &folder)
{
    return !folder.isEmpty() && QFileInfo(folder + s_marker).isFile();
}

QString GodotProject::displayName(const QString &folder)
{
    const QString name = configName(folder).simplified();
    return name.isEmpty() ? QDir(folder).dirName() : name;
}

QString GodotProject::configName(const QString &folder)
{
    return read(folder).name;
}

GodotProjectInfo GodotProject::read(const QString &folder)
{
    GodotProjectInfo info;
    const QString path = folder + s_marker;
    QByteArray bytes;
    if (folder.isEmpty() || !readFile(path, &bytes, &info.error))
        return info;
    const GodotConfigEdit::Parsed parsed = GodotConfigEdit::parse(bytes);
    info.configVersion = parsed.configVersion;
    if (!parsed.ok) {
        info.error = QStringLiteral("%1 cannot be read as Godot reads it. %2").arg(path, parsed.error);
        return info;
    }
    info.readable = true;
    info.name = parsed.string(QStringLiteral("application/config/name")).value_or(QString());
    static const QRegularExpression s_version(QStringLiteral("^\\d+\\.\\d+"));
    for (const QString &feature :
         parsed.strings(QStringLiteral("application/config/features")).value_or(QStringList())) {
        if (s_version.match(feature).hasMatch()) {
            info.lastSavedWith = feature;
            break;
        }
    }
    info.enabledPlugins = parsed.strings(QStringLiteral("editor_plugins/enabled")).value_or(QStringList());
    return info;
}

bool GodotProject::isBeforeGodot4(const GodotProjectInfo &info)
{
    return info.configVersion >= 0 && info.configVersion < 5;
}

QString GodotProject::pluginProblem(const QString &folder)
{
    const QString addon = folder + s_addonFolder;
    if (!QFileInfo(addon).isDir())
        return {};
    QByteArray bytes;
    QString error;
    if (!readFile(addon + QLatin1String("/plugin.cfg"), &bytes, &error))
        return error;
    const GodotConfigEdit::Parsed cfg = GodotConfigEdit::parse(bytes);
    if (!cfg.ok)
        return QStringLiteral("%1/plugin.cfg cannot be read as Godot reads it. %2").arg(addon, cfg.error);
    // The keys without which the Plugins tab does not list a plugin.
    QStringList missing;
    for (const char *key : {"name", "author", "version", "description", "script"}) {
        if (!cfg.has(QLatin1String("plugin/") + QLatin1String(key)))
            missing << QLatin1String(key);
    }
    if (!missing.isEmpty())
        return QStringLiteral("%1/plugin.cfg lacks %2 in its [plugin] section.")
            .arg(addon, missing.join(QLatin1String(", ")));
    const QString script = cfg.string(QStringLiteral("plugin/script")).value_or(QString());
    const QString scriptPath = script.startsWith(QLatin1String("res://")) ? folder + QLatin1Char('/') + script.mid(6)
                                                                          : addon + QLatin1Char('/') + script;
    if (script.isEmpty() || !QFileInfo(scriptPath).isFile())
        return QStringLiteral("The addon's script %1 is missing.")
            .arg(script.isEmpty() ? addon + QLatin1String("/?") : scriptPath);
    return {};
}

GodotProject::PluginState GodotProject::pluginState(const QString &folder)
{
    // An unreadable project.godot lists nothing we can see; read() tells why.
    const bool listed = GodotConfigEdit::lists(read(folder).enabledPlugins, pluginPath());
    if (!QFileInfo(folder + s_addonFolder).isDir())
        return listed ? PluginState::EnabledMissing : PluginState::NotInstalled;
    if (!pluginProblem(folder).isEmpty())
        return PluginState::Broken;
    return listed ? PluginState::Enabled : PluginState::Disabled;
}

bool GodotProject::setPluginEnabled(const QString &folder, bool enabled, QString *error)
{
    const auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (!isProject(folder))
        return fail(QLatin1String("Godot project not found: ") + folder);
    if (enabled) {
        if (!QFileInfo(folder + s_addonFolder).isDir())
            return fail(
                QStringLiteral("Tavrin MCP is not installed in %1: install it first.").arg(displayName(folder)));
        const QString problem = pluginProblem(folder);
        if (!problem.isEmpty())
            return fail(problem + QLatin1String(" Install the addon again."));
    }
    const QString path = folder + s_marker;
    QByteArray bytes;
    QString readError;
    if (!readFile(path, &bytes, &readError))
        return fail(readError);
    QString editError;
    const std::optional<QByteArray> edited =
        GodotConfigEdit::setPluginEnabled(bytes, pluginPath(), enabled, &editError);
    if (!edited)
        return fail(
            QStringLiteral("%1 was left unchanged: it cannot be read as Godot reads it. %2").arg(path, editError));
    if (*edited == bytes)
        return true;
    if (!GodotEditors::editorsFor(folder).isEmpty()) {
        const QString name = displayName(folder);
        if (enabled)
            return fail(QStringLiteral("Godot has %1 open and would overwrite the change. Tick Tavrin MCP in Project → "
                                       "Project Settings → Plugins there (no restart needed), or close the project "
                                       "in Godot and try again.")
                            .arg(name));
        return fail(QStringLiteral("Godot has %1 open and would put the plugin back on its next save. Close the "
                                   "project in Godot first, or untick Tavrin MCP in Project → Project Settings → "
                                   "Plugins there.")
                        .arg(name));
    }
    Backups backups;
    if (!backups.backup(QStringLiteral("godot"), path))
        return fail(QStringLiteral("%1 was left unchanged because it could not be backed up first. %2")
                        .arg(path, backups.lastError()));
    QString writeError;
    if (!JsonFile::writeBytes(path, *edited, &writeError))
        return fail(QStringLiteral("Cannot write %1: %2").arg(path, writeError));
    return true;
}

QString GodotProject::sessionFile(const QString &folder)
{
    return folder + s_dataFolders[0] + s_sessionFile;
}

std::optional<GodotSession> GodotProject::loadedIn(const QString &folder)
{
    if (folder.isEmpty())
        return std::nullopt;
    for (const QLatin1String data : s_dataFolders) {
        const JsonFile::ReadResult record = JsonFile::read(folder + data + s_sessionFile);
        if (record.status != JsonFile::ReadStatus::Ok)
            continue;
        const double pid = record.object.value(QLatin1String("pid")).toDouble(-1);
        if (pid < 1 || pid > 4294967295.0 || std::floor(pid) != pid)
            continue;
        GodotSession session;
        session.pid = static_cast<qint64>(pid);
        if (!GodotEditors::isGodotProcess(session.pid))
            continue;
        session.godotVersion = record.object.value(QLatin1String("godot")).toString();
        session.addonVersion = record.object.value(QLatin1String("addon")).toString();
        return session;
    }
    return std::nullopt;
}

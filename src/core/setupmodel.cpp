#include "core/setupmodel.h"

#include "core/addonsetup.h"

#include "core/asynctask.h"
#include "core/godotlocator.h"
#include "core/godotproject.h"
#include "core/mcpserver.h"
#include "core/serverprobe.h"
#include "core/settings.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <utility>

namespace {

constexpr qint64 s_scanFreshMs = 60000;
// After "Open in Godot": how often, and how long, the chain is read again for the editor to load us.
constexpr int s_watchEveryMs = 2000;
constexpr qint64 s_watchForMs = 90000;

struct ScanResult
{
    bool repaired = false;
    QList<ClientInfo> clients;
    QList<PrereqResult> prereqs;
};

struct OperationResult
{
    bool ok = false;
    QString error;
    QString note;
    QString projectName;
    GodotChain chain; // read after the operation, on the same thread
};

// The first line of an error, for a one-line summary; the detail has it whole.
QString firstLine(const QString &text)
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

} // namespace

SetupModel::SetupModel(Settings *settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_addonService(new Addon(this))
{
    m_project = m_settings->activeProject();
    m_probe = new ServerProbe(this);
    connect(m_probe, &ServerProbe::finished, this, [this](const ServerProbeResult &result) {
        if (result.success)
            m_settings->setServerToolCount(result.toolCount);
        emit serverTestChanged();
        emit serverTestFinished(result);
    });
    connect(m_settings, &Settings::permissionModeChanged, this, &SetupModel::modeChanged);
    connect(m_settings, &Settings::activeProjectChanged, this, &SetupModel::readAddon);
    m_godot = new GodotLocator(m_settings, workers(), this);
    m_watch = new QTimer(this);
    m_watch->setInterval(s_watchEveryMs);
    connect(m_watch, &QTimer::timeout, this, [this] {
        if (m_chain.session || m_project.isEmpty() || m_watchSince.elapsed() > s_watchForMs)
            m_watch->stop();
        else
            readChain();
    });
    // A mode set from the command line was applied there: the cards are judged against it.
    connect(m_settings, &Settings::changedElsewhere, this, &SetupModel::emitAllClients);
}

// Watchers are children of the model and go with it; a worker still running afterwards ends
// without reaching it. The probe ends its server when it is destroyed.
SetupModel::~SetupModel() = default;

QString SetupModel::addonId()
{
    return QStringLiteral("addon");
}

QThreadPool *SetupModel::workers()
{
    // Workers block on child processes for up to half a minute; on a pool of their own they never
    // hold up the short parallel work Qt itself does on the global one (image conversion, say).
    static QThreadPool *const s_pool = [] {
        auto *pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(int(ClientCatalogue::all().size()) + 3);
        return pool;
    }();
    return s_pool;
}

ClientInfo SetupModel::client(const QString &id) const
{
    for (const ClientInfo &info : m_clients) {
        if (info.id == id)
            return info;
    }
    ClientInfo info;
    info.id = id;
    info.name = clientName(id);
    return info;
}

QString SetupModel::permissionMode() const
{
    return m_settings->permissionMode();
}

QString SetupModel::clientName(const QString &clientId) const
{
    const ClientCatalogue::Client *client = ClientCatalogue::find(clientId);
    return client ? client->name : clientId;
}

bool SetupModel::scanIsFresh() const
{
    return m_hasScan && !m_scanExpired && m_lastScan.isValid() && m_lastScan.elapsed() <= s_scanFreshMs;
}

void SetupModel::expireScan()
{
    if (m_lastScan.isValid() && m_lastScan.elapsed() > m_outsideChangeMs)
        m_scanExpired = true;
}

void SetupModel::rescan()
{
    readAddon();
    scan();
}

void SetupModel::refresh()
{
    readAddon();
    if (!scanIsFresh())
        scan();
}

void SetupModel::readAddon()
{
    const QString project = m_settings->activeProject();
    const bool moved = project != m_project;
    m_project = project;
    if (moved)
        m_chain = GodotChain(); // unknown until read for this project
    readStatus();
    emit addonChanged();
    readChain();
    if (!moved || project.isEmpty())
        return;
    // What an interrupted install left in the newly chosen project is tidied up off this thread.
    AsyncTask::runThenCallback(
        workers(), this, [project] { return Addon().finishInterrupted(project); },
        [this, project](bool repaired) {
            if (repaired && project == m_project)
                readAddon();
        });
}

void SetupModel::readStatus()
{
    m_addon = m_project.isEmpty() ? AddonStatus() : m_addonService->status(m_project);
}

void SetupModel::readChain()
{
    if (m_project.isEmpty())
        return;
    if (m_chainReading) {
        m_chainAgain = true;
        return;
    }
    m_chainReading = true;
    const QString project = m_project;
    const int generation = m_chainGeneration;
    AsyncTask::runThenCallback(
        workers(), this, [project] { return GodotChain::read(project); },
        [this, project, generation](const GodotChain &chain) {
            m_chainReading = false;
            // An addon operation that started meanwhile brings its own reading when it ends.
            if (project == m_project && generation == m_chainGeneration) {
                m_chain = chain;
                emit addonChanged();
            }
            if (std::exchange(m_chainAgain, false))
                readChain();
        });
}

void SetupModel::scan()
{
    if (m_scanning)
        return;
    if (!m_busy.isEmpty())
        return; // the last client operation to complete starts it
    m_scanning = true;
    emit scanningChanged();
    const qint64 generation = m_scanGeneration;
    const QString project = m_project;
    AsyncTask::runThenCallback(
        workers(), this,
        [project] {
            ScanResult result;
            result.repaired = Addon().finishInterrupted(project);
            result.clients = Clients().detect();
            result.prereqs = Prereqs().check();
            return result;
        },
        [this, generation, project](const ScanResult &result) {
            m_scanning = false;
            if (result.repaired && project == m_project)
                readAddon();
            if (generation != m_scanGeneration) {
                // A client operation started meanwhile: this result may predate its change.
                scan();
                if (!m_scanning)
                    emit scanningChanged();
                return;
            }
            m_clients = result.clients;
            m_prereqs = result.prereqs;
            m_hasScan = true;
            m_scanExpired = false;
            m_lastScan.restart();
            emit scanningChanged();
            emitAllClients();
            emit prerequisitesChanged();
            applyPendingMode();
        });
}

void SetupModel::emitAllClients()
{
    for (const ClientCatalogue::Client &client : ClientCatalogue::all())
        emit clientChanged(client.id);
}

void SetupModel::installAddon()
{
    changeAddon(false);
}

void SetupModel::uninstallAddon()
{
    changeAddon(true);
}

void SetupModel::enablePlugin()
{
    runAddonOperation(SetupOutcome::Action::Enable);
}

void SetupModel::changeAddon(bool uninstall)
{
    runAddonOperation(uninstall ? SetupOutcome::Action::Uninstall
                                : (m_addon.installed ? SetupOutcome::Action::Update : SetupOutcome::Action::Install));
}

void SetupModel::runAddonOperation(SetupOutcome::Action action)
{
    using Action = SetupOutcome::Action;
    if (m_addonBusy || m_project.isEmpty())
        return;
    m_addonBusy = true;
    ++m_chainGeneration;
    const QString project = m_project;
    emit addonChanged();
    AsyncTask::runThenCallback(
        workers(), this,
        [project, action] {
            OperationResult result;
            result.projectName = GodotProject::displayName(project);
            if (action == Action::Enable) {
                result.ok = GodotProject::setPluginEnabled(project, true, &result.error);
            } else {
                // Installed and enabled in one step, and taken off the plugin list before its files go.
                AddonSetup setup;
                AddonSetup::Installed installed;
                const bool uninstall = action == Action::Uninstall;
                result.ok = uninstall ? setup.uninstall(project) : setup.install(project, &installed);
                result.error = setup.lastError();
                if (result.ok && !uninstall)
                    result.note = installed.pluginEnabled ? tr("Tavrin MCP enabled in %1").arg(installed.projectName)
                                                          : installed.notEnabled;
            }
            result.chain = GodotChain::read(project);
            return result;
        },
        [this, project, action](const OperationResult &result) {
            m_addonBusy = false;
            ++m_chainGeneration;
            SetupOutcome outcome;
            outcome.id = addonId();
            outcome.action = action;
            outcome.ok = result.ok;
            outcome.detail = result.ok ? QString() : result.error;
            outcome.note = result.note;
            switch (action) {
            case Action::Uninstall:
                outcome.message = result.ok ? tr("Addon uninstalled") : tr("Uninstalling the addon failed");
                break;
            case Action::Update:
                outcome.message = result.ok
                                      ? tr("Addon updated to v%1").arg(m_addonService->status(project).installedVersion)
                                      : tr("Updating the addon failed");
                break;
            case Action::Enable:
                outcome.message = result.ok ? tr("Tavrin MCP enabled in %1").arg(result.projectName)
                                            : tr("Enabling Tavrin MCP failed");
                break;
            default:
                outcome.message = result.ok ? tr("Addon installed") : tr("Installing the addon failed");
                break;
            }
            // The project may have changed meanwhile: the state shown is the active project's.
            if (project == m_project && project == m_settings->activeProject()) {
                m_chain = result.chain;
                readStatus();
                emit addonChanged();
            } else {
                readAddon();
            }
            emit operationFinished(outcome);
        });
}

bool SetupModel::openInGodot(QString *error)
{
    if (m_project.isEmpty()) {
        if (error)
            *error = tr("No project is selected.");
        return false;
    }
    if (!m_godot->open(m_project, error))
        return false;
    m_watchSince.restart();
    m_watch->start();
    return true;
}

void SetupModel::configureClient(const QString &clientId)
{
    startClientOperation(clientId, false, false);
}

void SetupModel::removeClient(const QString &clientId)
{
    startClientOperation(clientId, true, false);
}

void SetupModel::startClientOperation(const QString &clientId, bool remove, bool resync)
{
    if (m_busy.contains(clientId) || !ClientCatalogue::find(clientId))
        return;
    m_busy.insert(clientId);
    if (resync)
        m_resyncClients.insert(clientId);
    ++m_scanGeneration;
    const QString mode = m_settings->permissionMode();
    const bool wasConfigured = client(clientId).configured;
    emit clientChanged(clientId);

    AsyncTask::runThenCallback(
        workers(), this,
        [clientId, mode, remove] {
            Clients clients;
            OperationResult result;
            result.ok = remove ? clients.removeConfig(clientId) : clients.writeConfig(clientId, mode);
            result.error = clients.lastError();
            return result;
        },
        [this, clientId, remove, resync, mode, wasConfigured](const OperationResult &result) {
            m_busy.remove(clientId);
            if (result.ok) {
                // What the operation wrote is known at once, before the rescan confirms it.
                for (ClientInfo &info : m_clients) {
                    if (info.id != clientId)
                        continue;
                    info.configured = info.entryValid = !remove;
                    info.mode = remove ? QString() : mode;
                    info.command = remove ? QString() : McpServer::program();
                    info.args = remove ? QStringList() : QStringList{McpServer::name()};
                }
            }
            emit clientChanged(clientId);
            if (resync) {
                m_resyncClients.remove(clientId);
                if (result.ok) {
                    m_resyncApplied.insert(clientId);
                    m_resyncFailed.remove(clientId);
                } else {
                    m_resyncFailed.insert(clientId, result.error);
                }
                finishResync();
            } else {
                const QString name = clientName(clientId);
                SetupOutcome outcome;
                outcome.id = clientId;
                outcome.action =
                    remove ? SetupOutcome::Action::Remove
                           : (wasConfigured ? SetupOutcome::Action::Reconfigure : SetupOutcome::Action::Configure);
                outcome.ok = result.ok;
                if (result.ok) {
                    outcome.message = remove          ? tr("%1 removed").arg(name)
                                      : wasConfigured ? tr("%1 updated").arg(name)
                                                      : tr("%1 configured").arg(name);
                } else {
                    outcome.message =
                        remove ? tr("Removal from %1 failed").arg(name) : tr("Configuration of %1 failed").arg(name);
                    outcome.detail = result.error;
                }
                emit operationFinished(outcome);
            }
            scan();
        });
}

void SetupModel::clientFileRestored()
{
    ++m_scanGeneration; // a scan running now may have read the file before the restore
    scan();
}

void SetupModel::modeChanged()
{
    // The settings store holds the new mode; the re-sync reads it from there when it runs, so that
    // of several quick changes the last one is applied.
    m_resyncWanted = true;
    applyPendingMode();
    emitAllClients(); // until it is applied, the records are judged against the new mode
}

void SetupModel::applyPendingMode()
{
    if (!m_resyncWanted)
        return;
    // A running scan or client operation may change what is known: the scan's completion (which
    // also follows the last operation) calls again.
    if (m_scanning || !m_busy.isEmpty())
        return;
    if (!scanIsFresh()) {
        scan();
        return;
    }
    m_resyncWanted = false;
    const QString mode = m_settings->permissionMode();
    QStringList targets;
    for (const ClientInfo &info : std::as_const(m_clients)) {
        if (info.configured && info.mode != mode)
            targets << info.id;
    }
    if (targets.isEmpty()) {
        finishResync();
        return;
    }
    for (const QString &id : std::as_const(targets))
        startClientOperation(id, false, true);
}

void SetupModel::finishResync()
{
    if (m_resyncWanted || !m_resyncClients.isEmpty())
        return; // a newer change follows, and its summary covers this one
    ResyncSummary summary;
    summary.mode = m_settings->permissionMode();
    const QString mode = McpServer::modeName(summary.mode);
    QStringList applied, failed, details;
    for (const ClientInfo &info : std::as_const(m_clients)) {
        summary.configured += info.configured ? 1 : 0;
        if (m_resyncFailed.contains(info.id)) {
            const QString error = m_resyncFailed.value(info.id);
            summary.failed.insert(info.id, error);
            failed << tr("%1 (%2)").arg(info.name, firstLine(error));
            details << tr("%1: %2").arg(info.name, error);
        } else if (m_resyncApplied.contains(info.id)) {
            summary.applied << info.id;
            applied << info.name;
        }
    }
    m_resyncApplied.clear();
    m_resyncFailed.clear();

    const QString appliedText = applied.size() == 1 ? tr("%1 applied to %2").arg(mode, applied.value(0))
                                                    : tr("%1 applied to %2 clients").arg(mode).arg(applied.size());
    if (!failed.isEmpty()) {
        summary.message = tr("%1 could not be applied to %2").arg(mode, failed.join(QStringLiteral(", ")));
        if (!applied.isEmpty())
            summary.message += QStringLiteral("; ") + appliedText;
        summary.detail = details.join(QStringLiteral("\n\n"));
    } else if (!applied.isEmpty()) {
        summary.message = appliedText;
    } else if (summary.configured == 0) {
        summary.message = tr("%1 will be used for the clients you configure").arg(mode);
    } else {
        summary.message = tr("%1 is already in use by every configured client").arg(mode);
    }
    emit resyncFinished(summary);
}

void SetupModel::testServer()
{
    if (m_probe->isRunning())
        return;
    (void)m_probe->start(m_settings->permissionMode());
    emit serverTestChanged();
}

void SetupModel::cancelServerTest()
{
    m_probe->cancel();
}

void SetupModel::listBackups(const QString &clientId, QObject *context,
                             const std::function<void(const QList<Backups::Backup> &)> &done)
{
    const ClientCatalogue::Client *client = ClientCatalogue::find(clientId);
    const ClientCatalogue::FileLayout layout = client ? client->file : ClientCatalogue::FileLayout();
    AsyncTask::runThenCallback(
        workers(), context, [clientId, layout] { return Backups().list(clientId, layout); }, done);
}

void SetupModel::restoreBackup(const QString &clientId, const QString &backupPath, const QString &target,
                               QObject *context, const std::function<void(bool ok, const QString &error)> &done)
{
    AsyncTask::runThenCallback(
        workers(), context,
        [clientId, backupPath, target] {
            Backups backups;
            OperationResult result;
            result.ok = backups.restore(clientId, backupPath, target);
            result.error = backups.lastError();
            return result;
        },
        [done](const OperationResult &result) { done(result.ok, result.error); });
}

#pragma once

#include "core/addon.h"
#include "core/backups.h"
#include "core/clients.h"
#include "core/godotchain.h"
#include "core/prereqs.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class GodotLocator;
class QThreadPool;
class QTimer;
class ServerProbe;
class Settings;
struct ServerProbeResult;

// How an addon or client operation ended.
struct SetupOutcome
{
    enum class Action { Install, Update, Uninstall, Enable, Configure, Reconfigure, Remove };

    QString id; // a client's id, or SetupModel::addonId()
    Action action = Action::Configure;
    bool ok = false;
    QString message; // one line for people: "Cursor configured", "Configuration of Cursor failed"
    QString detail;  // on failure, why: the service's own words
    // After a success, what else changed or could not: "Tavrin MCP enabled in My Game", or why the
    // plugin was left off the project's list. Empty when there is nothing more to say.
    QString note;
};
Q_DECLARE_METATYPE(SetupOutcome)

// How a permission-mode re-sync ended: one summary for every change that overlapped.
struct ResyncSummary
{
    QString mode;                  // the mode now in the settings
    QStringList applied;           // ids re-registered with it, in catalogue order
    QMap<QString, QString> failed; // id -> why it could not be
    int configured = 0;            // clients that hold an entry
    QString message;               // one line for people: "Full Control applied to 2 clients", ...
    QString detail;                // on failure, "<client>: <why>" per client, a blank line between
};
Q_DECLARE_METATYPE(ResyncSummary)

// What the Setup page shows and does, without widgets: the active project's addon and how far it
// has got into a Godot editor, the Godot editor in use, the AI clients
// and the prerequisites as the last scan found them, the operations in flight, the server test,
// and the re-registration of configured clients when the permission mode changes (which it hears
// from the settings store itself, whether or not the page was ever opened). Scans and operations
// run on a thread pool of its own; a scan that started before a client operation is never accepted
// over what the operation did. Lives on the GUI thread; every signal comes from there.
class SetupModel : public QObject
{
    Q_OBJECT
public:
    explicit SetupModel(Settings *settings, QObject *parent = nullptr);
    ~SetupModel() override;

    // The id operations on the addon report with.
    [[nodiscard]] static QString addonId();
    // Where the Setup page's blocking work runs (scans, operations, chain reads, the Godot search,
    // the dialogs' work), apart from Qt's global pool; sized so that one operation per client still
    // leaves room for the rest.
    [[nodiscard]] static QThreadPool *workers();

    // State, as last read.
    [[nodiscard]] QString project() const { return m_project; }
    [[nodiscard]] const AddonStatus &addon() const { return m_addon; }
    [[nodiscard]] bool isAddonBusy() const { return m_addonBusy; }
    // The active project's plugin chain, as last read (known == false until the first read).
    [[nodiscard]] const GodotChain &chain() const { return m_chain; }
    // The Godot editor in use; shared with the pages that open projects in Godot.
    [[nodiscard]] GodotLocator *godot() const { return m_godot; }
    [[nodiscard]] bool hasScan() const { return m_hasScan; }
    [[nodiscard]] bool isScanning() const { return m_scanning; }
    [[nodiscard]] const QList<ClientInfo> &clients() const { return m_clients; }
    // The client's record; one with only id and name before the first scan.
    [[nodiscard]] ClientInfo client(const QString &id) const;
    [[nodiscard]] bool isBusy(const QString &clientId) const { return m_busy.contains(clientId); }
    [[nodiscard]] const QList<PrereqResult> &prerequisites() const { return m_prereqs; }
    [[nodiscard]] QString permissionMode() const;
    [[nodiscard]] ServerProbe *serverProbe() const { return m_probe; }

    // Reads the active project's addon again, and rescans when no scan was accepted in the last
    // minute. For a page that is being shown.
    void refresh();
    // Starts a scan, unless one is running or a client operation is (its end starts one).
    void scan();
    // Reads the addon and scans now, however recent the last scan: the user asked (Refresh, F5).
    void rescan();
    // Files may have changed behind our back (the window was away): a scan older than
    // outsideChangeMs() no longer counts as fresh, so the next refresh() scans.
    void expireScan();
    [[nodiscard]] qint64 outsideChangeMs() const { return m_outsideChangeMs; }
    void setOutsideChangeMs(qint64 ms) { m_outsideChangeMs = ms; }
    // Installs or updates the addon in the active project.
    void installAddon();
    void uninstallAddon();
    // Lists the plugin in the active project's project.godot.
    void enablePlugin();
    // Starts the Godot editor in use on the active project; the chain is then read again every few
    // seconds for a while, so that the card sees the editor load the addon.
    bool openInGodot(QString *error);
    // Registers the client with the current mode (also over an entry that needs an update), or
    // removes its entry. Does nothing while the client has an operation in flight.
    void configureClient(const QString &clientId);
    void removeClient(const QString &clientId);
    // A backup was put back behind our back: what the clients hold is read again.
    void clientFileRestored();

    void testServer();
    void cancelServerTest();

    // Backup work for the dialogs, on the worker pool; `done` runs on `context`'s thread unless it
    // is gone by then.
    void listBackups(const QString &clientId, QObject *context,
                     const std::function<void(const QList<Backups::Backup> &)> &done);
    void restoreBackup(const QString &clientId, const QString &backupPath, const QString &target, QObject *context,
                       const std::function<void(bool ok, const QString &error)> &done);

signals:
    // The active project, its addon, its plugin chain or the addon's busy state changed.
    void addonChanged();
    // One client's record or busy state changed (all of them after a scan or a mode change).
    void clientChanged(const QString &id);
    void prerequisitesChanged();
    // A scan started or ended.
    void scanningChanged();
    void operationFinished(const SetupOutcome &outcome);
    void resyncFinished(const ResyncSummary &summary);
    // A server test started or ended; while one runs, the probe reports its progress.
    void serverTestChanged();
    void serverTestFinished(const ServerProbeResult &result);

private:
    void readAddon();
    // The addon's status alone, read here (a few small files); the chain follows from readChain().
    void readStatus();
    void readChain();
    void changeAddon(bool uninstall);
    void runAddonOperation(SetupOutcome::Action action);
    void startClientOperation(const QString &clientId, bool remove, bool resync);
    void modeChanged();
    void applyPendingMode();
    void finishResync();
    void emitAllClients();
    [[nodiscard]] bool scanIsFresh() const;
    [[nodiscard]] QString clientName(const QString &clientId) const;

    Settings *m_settings;
    Addon *m_addonService; // for status(), which only reads; workers make their own
    ServerProbe *m_probe = nullptr;
    QString m_project;
    AddonStatus m_addon;
    bool m_addonBusy = false;
    GodotLocator *m_godot = nullptr;
    GodotChain m_chain;
    bool m_chainReading = false;
    bool m_chainAgain = false; // asked for while a read ran: read once more after it
    // +1 when an addon operation starts and ends: a chain read from before may be out of date.
    int m_chainGeneration = 0;
    QTimer *m_watch = nullptr; // reads the chain again after "Open in Godot"
    QElapsedTimer m_watchSince;
    QList<ClientInfo> m_clients;
    QList<PrereqResult> m_prereqs;
    QSet<QString> m_busy; // clients with an operation in flight
    QElapsedTimer m_lastScan;
    bool m_hasScan = false;
    bool m_scanning = false;
    bool m_scanExpired = false;
    qint64 m_outsideChangeMs = 5000;
    // +1 at every client operation's start (and after a restore): a scan that started under an
    // older value may have read what the operation changed, and is thrown away.
    qint64 m_scanGeneration = 0;

    // Permission-mode re-sync. A change waits until the model knows its clients and nothing else
    // changes them; a change that arrives while a re-sync runs is applied after it, and one
    // summary covers both.
    bool m_resyncWanted = false;
    QSet<QString> m_resyncClients;         // re-registrations in flight
    QSet<QString> m_resyncApplied;         // ids re-registered since the last summary
    QMap<QString, QString> m_resyncFailed; // id -> error, since the last summary
};

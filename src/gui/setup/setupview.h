#pragma once

#include "core/clients.h"
#include "core/prereqs.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QSet>
#include <QWidget>

class QVBoxLayout;
class Addon;
class FocusKeeper;
class ServerProbe;
class Settings;

// The Setup page: addon card, AI client cards, the MCP server test and prerequisite rows for the
// active project. Scans and operations run on the global thread pool, the server test
// asynchronously on the GUI thread; the page rebuilds itself whole on every change.
class SetupView : public QWidget
{
    Q_OBJECT
public:
    SetupView(Settings *settings, Addon *addon, Clients *clients, Prereqs *prereqs, QWidget *parent = nullptr);
    ~SetupView() override;

    void refresh();
    // Re-registers every configured client whose entry does not carry the mode now in the
    // settings: at once when the page knows its clients, else after the scan this starts.
    void syncPermissionMode(const QString &mode);

    // The page's server test; for tests.
    [[nodiscard]] ServerProbe *serverProbe() const { return m_probe; }

signals:
    void showToast(const QString &msg, int type);

private:
    void scanStatus();
    void changeAddon(bool uninstall);
    void confirmUninstall();
    void changeClient(const QString &clientId, bool remove);
    void openClientMenu(const QString &clientId, QWidget *button);
    void startClientOperation(const QString &clientId, bool remove, bool resync);
    void applyPendingMode();
    void finishResync();
    void testServer();

    void rebuildAll();
    void restoreFocus(const FocusKeeper &keeper, const QString &key, const QString &group) const;
    void buildAddonSection(QVBoxLayout *layout);
    void buildClientsSection(QVBoxLayout *layout);
    void buildServerSection(QVBoxLayout *layout);
    void buildPrereqsSection(QVBoxLayout *layout);
    void showFailure(const QString &title, const QString &error);
    [[nodiscard]] QString clientName(const QString &clientId) const;

    QList<ClientInfo> m_clientInfos;
    QList<PrereqResult> m_prereqResults;
    QSet<QString> m_busyClients;
    QElapsedTimer m_lastScan;
    bool m_hasScan = false;
    bool m_scanning = false;
    bool m_addonBusy = false;
    qint64 m_scanGeneration = 0;
    Settings *m_settings;
    Addon *m_addon;
    Clients *m_clients;
    Prereqs *m_prereqs;
    QVBoxLayout *m_rootLayout = nullptr;
    QWidget *m_scroll = nullptr;
    ServerProbe *m_probe = nullptr;

    // Permission-mode re-sync. A change waits until the page knows its clients and nothing else
    // changes them; a change that arrives while a re-sync runs is applied after it, and one
    // summary covers both.
    bool m_resyncWanted = false;
    QSet<QString> m_resyncClients;         // re-registrations in flight
    QSet<QString> m_resyncApplied;         // ids re-registered since the last summary
    QMap<QString, QString> m_resyncFailed; // id -> error, since the last summary
};

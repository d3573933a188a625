#pragma once

#include "clients.h"
#include "prereqs.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QWidget>

class QVBoxLayout;
class Addon;
class Settings;

// The Setup page: addon card, AI client cards and prerequisite rows for the active project.
// Scans and operations run on the global thread pool; the page rebuilds itself whole on every change.
class SetupView : public QWidget
{
    Q_OBJECT
public:
    SetupView(Settings *settings, Addon *addon, Clients *clients, Prereqs *prereqs, QWidget *parent = nullptr);
    ~SetupView() override;

    void refresh();
    void syncPermissionMode(const QString &mode);

signals:
    void showToast(const QString &msg, int type);

private:
    void scanStatus();
    void changeAddon(bool uninstall);
    void changeClient(const QString &clientId, bool remove);

    void rebuildAll();
    void buildAddonSection(QVBoxLayout *layout);
    void buildClientsSection(QVBoxLayout *layout);
    void buildPrereqsSection(QVBoxLayout *layout);
    void showFailure(const QString &title, const QString &error);

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
    // Configuration file of each JSON-file client, resolved by the scan worker next to detection,
    // so that the card tool tips cost a rebuild no file-system access.
    QHash<QString, QString> m_configPaths;
};

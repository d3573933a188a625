#include "gui/setup/setupview.h"

#include "core/addon.h"
#include "core/serverprobe.h"
#include "core/settings.h"
#include "gui/setup/clientcard.h"
#include "gui/setup/clientmenu.h"
#include "gui/setup/servercard.h"
#include "gui/widgets/actioncard.h"
#include "gui/widgets/cardgrid.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/focuskeeper.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <functional>

namespace {

struct ScanResult
{
    QList<ClientInfo> clients;
    QList<PrereqResult> prereqs;
};

struct OperationResult
{
    bool ok = false;
    QString error;
};

constexpr qint64 s_scanFreshMs = 60000;
const QString s_addonGroup = QStringLiteral("addon");

using Theme::classedLabel;
using Theme::setClass;

QLabel *iconLabel(const QByteArray &svg, const QString &colour, int iconSize, int labelSize, qreal dpr)
{
    auto *label = new QLabel;
    label->setPixmap(Icons::cached(svg, colour, iconSize, dpr));
    label->setFixedSize(labelSize, labelSize);
    label->setStyleSheet(QStringLiteral("background: transparent;"));
    return label;
}

// The first line of an error, for a toast; the failure box shows it whole.
QString firstLine(const QString &text)
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

// Keeps the scroll position across a rebuild. The new scroll area has no range until its layout
// has run, so the value is applied again as the range grows, until it fits or the user scrolls.
// Until then the bar carries the wanted value: a second rebuild before the layout has run (two
// operations finishing together) must keep that, not the bar's provisional 0.
const char *const s_wantedScroll = "tavrinWantedScroll";

void restoreScroll(QScrollBar *bar, int value)
{
    bar->setValue(value);
    if (value <= 0 || bar->value() == value)
        return;
    bar->setProperty(s_wantedScroll, value);
    // The guard's lifetime bounds both connections.
    auto *guard = new QObject(bar);
    const auto done = [bar, guard] {
        bar->setProperty(s_wantedScroll, QVariant());
        guard->deleteLater();
    };
    QObject::connect(bar, &QScrollBar::rangeChanged, guard, [bar, value, done](int, int max) {
        bar->setValue(value);
        if (max >= value)
            done();
    });
    QObject::connect(bar, &QScrollBar::actionTriggered, guard, [done](int) { done(); });
}

int scrollPosition(QScrollBar *bar)
{
    const QVariant wanted = bar->property(s_wantedScroll);
    return wanted.isValid() ? wanted.toInt() : bar->value();
}

} // namespace

SetupView::SetupView(Settings *settings, Addon *addon, Clients *clients, Prereqs *prereqs, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_addon(addon), m_clients(clients), m_prereqs(prereqs)
{
    // Our workers block on child processes for up to half a minute, while Qt's own parallel image
    // work shares the global pool and the GUI thread waits for it. Room for every worker the page
    // can have at once (a scan, an addon operation, every client) on top of the ideal count keeps
    // that work from queuing behind ours and freezing the window.
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(
        std::max(pool->maxThreadCount(), QThread::idealThreadCount() + 2 + int(ClientCatalogue::all().size())));

    // The server test lives here, not in its card, so that rebuilding the page does not end it.
    m_probe = new ServerProbe(this);
    connect(m_probe, &ServerProbe::finished, this, [this](const ServerProbeResult &result) {
        if (result.success)
            emit showToast(tr("Server test passed"), 1);
        else if (result.failure != ServerProbeResult::Failure::Cancelled)
            emit showToast(tr("Server test failed"), 2);
        rebuildAll();
    });

    m_rootLayout = new QVBoxLayout(this);
    m_rootLayout->setContentsMargins(0, 0, 0, 0);
    rebuildAll();
}

// Watchers are children of the page and go with it; their finished connections use the page as
// context, so a worker still running afterwards ends without reaching the page. The probe ends
// its server when it is destroyed.
SetupView::~SetupView() = default;

void SetupView::refresh()
{
    rebuildAll();
    if (!m_hasScan || !m_lastScan.isValid() || m_lastScan.elapsed() > s_scanFreshMs)
        scanStatus();
}

void SetupView::syncPermissionMode(const QString &mode)
{
    // The settings store already holds the new mode; the re-sync reads it from there when it runs,
    // so that of several quick changes the last one is applied.
    Q_UNUSED(mode)
    m_resyncWanted = true;
    applyPendingMode();
    if (m_resyncWanted)
        rebuildAll(); // until it is applied, the cards say which entries it leaves behind
}

void SetupView::applyPendingMode()
{
    if (!m_resyncWanted)
        return;
    // A running scan or client operation may change what is known: the scan's completion (which
    // also follows the last operation) calls again.
    if (m_scanning || !m_busyClients.isEmpty())
        return;
    if (!m_hasScan || !m_lastScan.isValid() || m_lastScan.elapsed() > s_scanFreshMs) {
        scanStatus();
        return;
    }
    m_resyncWanted = false;
    const QString mode = m_settings->permissionMode();
    QStringList targets;
    for (const ClientInfo &info : std::as_const(m_clientInfos)) {
        if (info.configured && info.mode != mode)
            targets << info.id;
    }
    if (targets.isEmpty()) {
        finishResync();
        return;
    }
    for (const QString &id : std::as_const(targets))
        startClientOperation(id, false, true);
    rebuildAll();
}

void SetupView::finishResync()
{
    if (m_resyncWanted || !m_resyncClients.isEmpty())
        return; // a newer change follows, and its summary covers this one
    const QString mode = ClientCard::modeName(m_settings->permissionMode());
    QStringList applied, failed, details;
    int configured = 0;
    for (const ClientInfo &info : std::as_const(m_clientInfos)) {
        configured += info.configured ? 1 : 0;
        if (m_resyncFailed.contains(info.id)) {
            const QString error = m_resyncFailed.value(info.id);
            failed << tr("%1 (%2)").arg(info.name, firstLine(error));
            details << tr("%1: %2").arg(info.name, error);
        } else if (m_resyncApplied.contains(info.id)) {
            applied << info.name;
        }
    }
    m_resyncApplied.clear();
    m_resyncFailed.clear();

    const auto appliedText = [&] {
        return applied.size() == 1 ? tr("%1 applied to %2").arg(mode, applied.first())
                                   : tr("%1 applied to %2 clients").arg(mode).arg(applied.size());
    };
    if (!failed.isEmpty()) {
        QString text = tr("%1 could not be applied to %2").arg(mode, failed.join(QStringLiteral(", ")));
        if (!applied.isEmpty())
            text += QStringLiteral("; ") + appliedText();
        showFailure(tr("Permission mode not applied to every client"), details.join(QStringLiteral("\n\n")));
        emit showToast(text, 2);
    } else if (!applied.isEmpty()) {
        emit showToast(appliedText(), 1);
    } else if (configured == 0) {
        emit showToast(tr("%1 will be used for the clients you configure").arg(mode), 0);
    } else {
        emit showToast(tr("%1 is already in use by every configured client").arg(mode), 0);
    }
}

void SetupView::scanStatus()
{
    if (m_scanning)
        return;
    if (!m_busyClients.isEmpty())
        return; // the last client operation to complete starts it
    m_scanning = true;
    const qint64 generation = m_scanGeneration;
    const QString mode = m_settings->permissionMode();

    auto *watcher = new QFutureWatcher<ScanResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, generation] {
        m_scanning = false;
        const ScanResult result = watcher->result();
        watcher->deleteLater();
        if (generation != m_scanGeneration) {
            // A client operation started meanwhile: this result may predate its change.
            scanStatus();
            return;
        }
        m_clientInfos = result.clients;
        m_prereqResults = result.prereqs;
        m_hasScan = true;
        m_lastScan.restart();
        rebuildAll();
        applyPendingMode();
    });
    watcher->setFuture(QtConcurrent::run([mode] {
        ScanResult result;
        {
            Clients clients;
            result.clients = clients.detect(mode);
        }
        {
            Prereqs prereqs;
            result.prereqs = prereqs.check();
        }
        return result;
    }));
}

void SetupView::changeAddon(bool uninstall)
{
    if (m_addonBusy)
        return;
    m_addonBusy = true;
    const QString projectPath = m_settings->activeProject();
    const AddonStatus before = m_addon->status(projectPath);
    rebuildAll();

    auto *watcher = new QFutureWatcher<OperationResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, uninstall, before, projectPath] {
        const OperationResult result = watcher->result();
        watcher->deleteLater();
        m_addonBusy = false;
        if (result.ok) {
            if (uninstall)
                emit showToast(tr("Addon uninstalled"), 1);
            else if (before.installed)
                emit showToast(tr("Addon updated to v%1").arg(m_addon->status(projectPath).installedVersion), 1);
            else
                emit showToast(tr("Addon installed"), 1);
        } else {
            const QString what =
                uninstall ? tr("Uninstalling the addon failed")
                          : (before.installed ? tr("Updating the addon failed") : tr("Installing the addon failed"));
            showFailure(what, result.error);
            emit showToast(what, 2);
        }
        rebuildAll();
    });
    watcher->setFuture(QtConcurrent::run([projectPath, uninstall] {
        Addon addon;
        OperationResult result;
        result.ok = uninstall ? addon.uninstall(projectPath) : addon.install(projectPath);
        result.error = addon.lastError();
        return result;
    }));
}

void SetupView::confirmUninstall()
{
    const QString project = m_settings->activeProject();
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Uninstall Addon"),
                                tr("Uninstall the Tavrin addon from “%1”?").arg(QFileInfo(project).fileName()),
                                QMessageBox::NoButton, this);
    box->setInformativeText(tr("The whole addons/tavrin_mcp folder will be deleted, including any files changed "
                               "or added there."));
    QPushButton *uninstall = box->addButton(tr("Uninstall"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, uninstall, project] {
        // The project may have changed behind a box left open.
        if (box->clickedButton() == uninstall && m_settings->activeProject() == project)
            changeAddon(true);
    });
    box->open();
}

void SetupView::changeClient(const QString &clientId, bool remove)
{
    if (m_busyClients.contains(clientId))
        return;
    startClientOperation(clientId, remove, false);
    rebuildAll();
}

void SetupView::startClientOperation(const QString &clientId, bool remove, bool resync)
{
    if (m_busyClients.contains(clientId))
        return;
    m_busyClients.insert(clientId);
    if (resync)
        m_resyncClients.insert(clientId);
    ++m_scanGeneration;
    const QString mode = m_settings->permissionMode();
    bool wasConfigured = false;
    for (const ClientInfo &info : std::as_const(m_clientInfos))
        wasConfigured = wasConfigured || (info.id == clientId && info.configured);

    auto *watcher = new QFutureWatcher<OperationResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, clientId, remove, resync, mode, wasConfigured] {
                const OperationResult result = watcher->result();
                watcher->deleteLater();
                m_busyClients.remove(clientId);
                const QString name = clientName(clientId);
                if (result.ok) {
                    // The card shows the new state at once, before the rescan confirms it.
                    for (ClientInfo &info : m_clientInfos) {
                        if (info.id != clientId)
                            continue;
                        info.configured = info.entryValid = !remove;
                        info.mode = remove ? QString() : mode;
                        info.command = remove ? QString() : QStringLiteral("uvx");
                        info.args = remove ? QStringList() : QStringList{QStringLiteral("tavrin")};
                        info.upToDate = !remove && mode == m_settings->permissionMode();
                    }
                }
                if (resync) {
                    m_resyncClients.remove(clientId);
                    if (result.ok) {
                        m_resyncApplied.insert(clientId);
                        m_resyncFailed.remove(clientId);
                    } else {
                        m_resyncFailed.insert(clientId, result.error);
                    }
                    finishResync();
                } else if (result.ok) {
                    if (remove)
                        emit showToast(tr("%1 removed").arg(name), 0);
                    else
                        emit showToast(wasConfigured ? tr("%1 updated").arg(name) : tr("%1 configured").arg(name), 1);
                } else {
                    const QString what =
                        remove ? tr("Removal from %1 failed").arg(name) : tr("Configuration of %1 failed").arg(name);
                    showFailure(what, result.error);
                    emit showToast(what, 2);
                }
                rebuildAll();
                scanStatus();
            });
    watcher->setFuture(QtConcurrent::run([clientId, mode, remove] {
        Clients clients;
        OperationResult result;
        result.ok = remove ? clients.removeConfig(clientId) : clients.writeConfig(clientId, mode);
        result.error = clients.lastError();
        return result;
    }));
}

void SetupView::testServer()
{
    if (m_probe->isRunning())
        return;
    if (!m_probe->start(m_settings->permissionMode()))
        emit showToast(m_probe->lastError(), 2);
    rebuildAll();
}

QString SetupView::clientName(const QString &clientId) const
{
    const ClientCatalogue::Client *client = ClientCatalogue::find(clientId);
    return client ? client->name : clientId;
}

void SetupView::showFailure(const QString &title, const QString &error)
{
    // Non-modal: the toast, the rebuild and the rescan go on while the box is open.
    auto *box = new QMessageBox(QMessageBox::Warning, title, error, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void SetupView::rebuildAll()
{
    const FocusKeeper keeper(this);
    QWidget *focused = window()->focusWidget();
    const bool focusInPage = focused && isAncestorOf(focused);
    const QString focusKey = focusInPage ? FocusKeeper::keyOf(focused) : QString();
    const QString focusGroup = focusInPage ? FocusKeeper::groupOf(focused) : QString();

    int scrollValue = 0;
    if (auto *oldArea = qobject_cast<QScrollArea *>(m_scroll))
        scrollValue = scrollPosition(oldArea->verticalScrollBar());
    if (m_scroll) {
        m_rootLayout->removeWidget(m_scroll);
        m_scroll->hide(); // gone at once, not only when the event loop deletes it
        m_scroll->deleteLater();
        m_scroll = nullptr;
    }

    auto *area = new QScrollArea;
    area->setWidgetResizable(true);
    // Everything wraps, elides or reflows: the page never scrolls sideways, and the area itself
    // is no Tab stop (its controls are).
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setFocusPolicy(Qt::NoFocus);
    m_scroll = area;

    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(40, 32, 40, 32);
    layout->setSpacing(24);
    // Attached before it is filled: with an application style sheet every reparenting of a
    // populated tree re-resolves the style of the whole subtree, which costs more than the build.
    area->setWidget(content);
    m_rootLayout->addWidget(area);

    layout->addWidget(classedLabel(tr("Setup"), "title"));

    const QString project = m_settings->activeProject();
    if (!project.isEmpty()) {
        auto *projectLine = new ElidedLabel(tr("Project: ") + project);
        projectLine->setObjectName(QStringLiteral("projectPath"));
        setClass(projectLine, "mono");
        projectLine->setToolTip(project);
        layout->addWidget(projectLine);
        buildAddonSection(layout);
        buildClientsSection(layout);
        buildServerSection(layout);
        buildPrereqsSection(layout);
    } else {
        layout->addWidget(classedLabel(tr("Select a project first from the Projects tab."), "dim"));
    }
    layout->addStretch(0);

    restoreScroll(area->verticalScrollBar(), scrollValue);
    restoreFocus(keeper, focusKey, focusGroup);
}

// The same control, else the first of its card; while none of the card's controls can take the
// focus (they are busy), the card itself holds it so that it comes back when they return.
void SetupView::restoreFocus(const FocusKeeper &keeper, const QString &key, const QString &group) const
{
    if (!group.isEmpty()) {
        QWidget *target = nullptr;
        for (QWidget *stop : FocusKeeper::tabStops(const_cast<SetupView *>(this))) {
            if (FocusKeeper::keyOf(stop) == key) {
                target = stop;
                break;
            }
            if (!target && FocusKeeper::groupOf(stop) == group)
                target = stop;
        }
        if (!target) {
            for (QWidget *holder : m_scroll->findChildren<QWidget *>()) {
                if (holder->focusPolicy() == Qt::ClickFocus && FocusKeeper::groupOf(holder) == group) {
                    target = holder;
                    break;
                }
            }
        }
        if (target) {
            target->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    keeper.restore();
}

void SetupView::buildAddonSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("ADDON"), "section-title"));

    auto *card = new ActionCard(Icons::PUZZLE, 24, 32);
    card->setObjectName(QStringLiteral("addonCard"));
    card->setFocusPolicy(Qt::ClickFocus); // holds the focus while "Working..." stands for its buttons
    FocusKeeper::setKey(card, s_addonGroup, s_addonGroup);
    layout->addWidget(card);
    QHBoxLayout *row = card->actions();

    const AddonStatus status = m_addon->status(m_settings->activeProject());
    QVBoxLayout *column = card->textColumn();
    auto *name = new QLabel(tr("Tavrin Addon"));
    name->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 14px; background: transparent;"));
    column->addWidget(name);
    QString statusText;
    if (!status.installed)
        statusText = tr("Not installed");
    else if (status.newerInstalled)
        statusText =
            tr("Installed v%1 (newer than this app's v%2)").arg(status.installedVersion, status.bundledVersion);
    else if (status.updateAvailable)
        statusText = tr("Installed v%1 (update available: v%2)").arg(status.installedVersion, status.bundledVersion);
    else
        statusText = tr("Installed v%1").arg(status.installedVersion);
    QLabel *statusLabel = classedLabel(statusText, "dim");
    statusLabel->setObjectName(QStringLiteral("addonStatus"));
    statusLabel->setWordWrap(true);
    column->addWidget(statusLabel);

    const auto addButton = [this, row](const QString &text, const char *cls, const char *objectName,
                                       const std::function<void()> &action) {
        auto *button = new QPushButton(text);
        button->setObjectName(QLatin1String(objectName));
        FocusKeeper::setKey(button, button->objectName(), s_addonGroup);
        setClass(button, cls);
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QAbstractButton::clicked, this, action);
        row->addWidget(button);
    };
    const auto install = [this] { changeAddon(false); }; // an update installs over the old copy
    if (m_addonBusy) {
        row->addWidget(classedLabel(tr("Working..."), "dim"));
    } else if (status.installed) {
        if (status.updateAvailable)
            addButton(tr("Update"), "primary", "addonUpdate", install);
        addButton(tr("Uninstall"), "danger", "addonUninstall", [this] { confirmUninstall(); });
    } else {
        addButton(tr("Install"), "primary", "addonInstall", install);
    }
}

void SetupView::buildClientsSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("AI CLIENTS"), "section-title"));
    if (!m_hasScan) {
        layout->addWidget(classedLabel(tr("Checking AI clients..."), "dim"));
        return;
    }

    auto *grid = new CardGrid(3);
    grid->setObjectName(QStringLiteral("clientGrid"));
    layout->addWidget(grid);
    const QString mode = m_settings->permissionMode();
    QStringList absent;
    for (const ClientInfo &info : std::as_const(m_clientInfos)) {
        const ClientCatalogue::Client *client = ClientCatalogue::find(info.id);
        if (!client)
            continue;
        if (!client->cardWhenAbsent && !info.installed && !info.configured) {
            absent << info.name;
            continue;
        }
        auto *card = new ClientCard(info, mode, m_busyClients.contains(info.id));
        connect(card, &ClientCard::actionRequested, this, &SetupView::changeClient);
        connect(card, &ClientCard::menuRequested, this, &SetupView::openClientMenu);
        grid->addCard(card);
    }
    if (!absent.isEmpty()) {
        QLabel *line =
            classedLabel(tr("Also supported, not installed: %1").arg(absent.join(QStringLiteral(", "))), "dim");
        line->setObjectName(QStringLiteral("absentClients"));
        line->setWordWrap(true);
        layout->addWidget(line);
    }
}

void SetupView::openClientMenu(const QString &clientId, QWidget *button)
{
    const auto info = std::find_if(m_clientInfos.cbegin(), m_clientInfos.cend(),
                                   [&clientId](const ClientInfo &c) { return c.id == clientId; });
    if (info == m_clientInfos.cend())
        return;
    // Parented to the page, not the card: a rebuild while the menu or its dialogs are open must
    // not take them away.
    auto *menu = new ClientMenu(*info, m_settings->permissionMode(), this);
    connect(menu, &ClientMenu::showToast, this, &SetupView::showToast);
    connect(menu, &ClientMenu::restored, this, [this] {
        ++m_scanGeneration; // a scan running now may have read the file before the restore
        scanStatus();
    });
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

void SetupView::buildServerSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("MCP SERVER"), "section-title"));
    auto *card = new ServerCard(m_probe);
    connect(card, &ServerCard::testRequested, this, &SetupView::testServer);
    connect(card, &ServerCard::cancelRequested, m_probe, &ServerProbe::cancel);
    layout->addWidget(card);
}

void SetupView::buildPrereqsSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("PREREQUISITES"), "section-title"));
    if (!m_hasScan) {
        layout->addWidget(classedLabel(tr("Checking prerequisites..."), "dim"));
        return;
    }
    const qreal dpr = devicePixelRatioF();
    for (const PrereqResult &prereq : std::as_const(m_prereqResults)) {
        auto *item = new QFrame;
        setClass(item, "prereq-item");
        layout->addWidget(item);
        auto *row = new QHBoxLayout(item);
        row->addWidget(prereq.found ? iconLabel(Icons::CHECK_CIRCLE, QStringLiteral("#2dbe78"), 18, 22, dpr)
                                    : iconLabel(Icons::X_CIRCLE, QStringLiteral("#e5534b"), 18, 22, dpr));
        auto *name = new QLabel(prereq.name);
        name->setStyleSheet(QStringLiteral("font-weight: 600; background: transparent;"));
        row->addWidget(name);
        QLabel *detail = prereq.found ? classedLabel(prereq.version, "dim") : classedLabel(prereq.hint, "faint");
        detail->setWordWrap(true);
        row->addWidget(detail, 1);
    }
}

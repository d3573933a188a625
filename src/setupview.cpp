#include "setupview.h"

#include "addon.h"
#include "icons.h"
#include "settings.h"
#include "theme.h"

#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPixmapCache>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

struct ScanResult
{
    QList<ClientInfo> clients;
    QList<PrereqResult> prereqs;
    QHash<QString, QString> configPaths;
};

struct OperationResult
{
    bool ok = false;
    QString error;
};

const QString s_accent = QStringLiteral("#4d8fd1");

using Theme::classedLabel;
using Theme::setClass;

// The page is rebuilt on every change and shows the same few drawings each time; render each
// once. Qt's pixmap cache owns them and is emptied with the application.
QPixmap cachedIcon(const QByteArray &svg, const QString &colour, int size)
{
    const QString key = QLatin1String("setupview|") + QString::number(quintptr(svg.constData())) + QLatin1Char('|') +
                        colour + QLatin1Char('|') + QString::number(size);
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        pixmap = Icons::icon(svg, colour, size);
        QPixmapCache::insert(key, pixmap);
    }
    return pixmap;
}

QLabel *iconLabel(const QByteArray &svg, const QString &colour, int iconSize, int labelSize)
{
    auto *label = new QLabel;
    label->setPixmap(cachedIcon(svg, colour, iconSize));
    label->setFixedSize(labelSize, labelSize);
    label->setStyleSheet(QStringLiteral("background: transparent;"));
    return label;
}

// The drawing for a catalogue icon key; clients without their own drawing yet share the code one.
const QByteArray &clientIcon(const QString &key)
{
    static const QHash<QString, const QByteArray *> s_icons{
        {QStringLiteral("terminal"), &Icons::TERMINAL}, {QStringLiteral("monitor"), &Icons::MONITOR},
        {QStringLiteral("code"), &Icons::CODE},         {QStringLiteral("wind"), &Icons::WIND},
        {QStringLiteral("zap"), &Icons::ZAP},           {QStringLiteral("box"), &Icons::BOX},
    };
    return *s_icons.value(key, &Icons::CODE);
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
    // can have at once (a scan, an addon operation, six clients) on top of the ideal count keeps
    // that work from queuing behind ours and freezing the window.
    QThreadPool *pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(std::max(pool->maxThreadCount(), QThread::idealThreadCount() + 8));

    m_rootLayout = new QVBoxLayout(this);
    m_rootLayout->setContentsMargins(0, 0, 0, 0);
    rebuildAll();
}

// Watchers are children of the page and go with it; their finished connections use the page as
// context, so a worker still running afterwards ends without reaching the page.
SetupView::~SetupView() = default;

void SetupView::refresh()
{
    rebuildAll();
    if (!m_hasScan || !m_lastScan.isValid() || m_lastScan.elapsed() > 60000)
        scanStatus();
}

void SetupView::syncPermissionMode(const QString &mode)
{
    // The settings store already holds the new mode; changeClient reads it from there.
    Q_UNUSED(mode)
    if (!m_hasScan)
        return;
    QStringList configured;
    for (const ClientInfo &info : std::as_const(m_clientInfos)) {
        if (info.configured)
            configured.append(info.id);
    }
    for (const QString &id : std::as_const(configured))
        changeClient(id, false);
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
        m_configPaths = result.configPaths;
        m_hasScan = true;
        m_lastScan.restart();
        rebuildAll();
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
        for (const ClientInfo &info : std::as_const(result.clients)) {
            if (!info.usesCli)
                result.configPaths.insert(info.id, info.configPath);
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
    rebuildAll();

    auto *watcher = new QFutureWatcher<OperationResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, uninstall] {
        const OperationResult result = watcher->result();
        watcher->deleteLater();
        m_addonBusy = false;
        if (result.ok) {
            emit showToast(uninstall ? tr("Addon uninstalled") : tr("Addon installed / updated"), 1);
        } else {
            showFailure(tr("Addon operation failed"), result.error);
            emit showToast(tr("Addon operation failed"), 2);
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

void SetupView::changeClient(const QString &clientId, bool remove)
{
    if (m_busyClients.contains(clientId))
        return;
    m_busyClients.insert(clientId);
    ++m_scanGeneration;
    const QString mode = m_settings->permissionMode();
    rebuildAll();

    auto *watcher = new QFutureWatcher<OperationResult>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, clientId, remove] {
        const OperationResult result = watcher->result();
        watcher->deleteLater();
        m_busyClients.remove(clientId);
        if (result.ok) {
            for (ClientInfo &info : m_clientInfos) {
                if (info.id == clientId)
                    info.configured = !remove;
            }
            if (remove)
                emit showToast(tr("Removed"), 0);
            else
                emit showToast(tr("Configured!"), 1);
        } else {
            showFailure(remove ? tr("Remove configuration failed") : tr("Configuration failed"), result.error);
            emit showToast(remove ? tr("Remove failed") : tr("Configuration failed"), 2);
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
        layout->addWidget(classedLabel(tr("Project: ") + project, "mono"));
        buildAddonSection(layout);
        buildClientsSection(layout);
        buildPrereqsSection(layout);
    } else {
        layout->addWidget(classedLabel(tr("Select a project first from the Projects tab."), "dim"));
    }
    layout->addStretch(0);

    restoreScroll(area->verticalScrollBar(), scrollValue);
}

void SetupView::buildAddonSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("ADDON"), "section-title"));

    auto *card = new QFrame;
    setClass(card, "card");
    layout->addWidget(card);
    auto *row = new QHBoxLayout(card);

    row->addWidget(iconLabel(Icons::PUZZLE, s_accent, 24, 32));

    const AddonStatus status = m_addon->status(m_settings->activeProject());
    auto *column = new QVBoxLayout;
    column->setSpacing(2);
    row->addLayout(column, 1);
    auto *name = new QLabel(tr("Tavrin Addon"));
    name->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 14px; background: transparent;"));
    column->addWidget(name);
    QString statusText;
    if (status.installed) {
        statusText = tr("Installed v") + status.installedVersion;
        if (status.updateAvailable)
            statusText += tr(" (update available: v") + status.bundledVersion + QLatin1Char(')');
    } else {
        statusText = tr("Not installed");
    }
    column->addWidget(classedLabel(statusText, "dim"));

    const auto addButton = [this, row](const QString &text, const char *cls, bool uninstall) {
        auto *button = new QPushButton(text);
        setClass(button, cls);
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QAbstractButton::clicked, this, [this, uninstall] { changeAddon(uninstall); });
        row->addWidget(button);
    };
    if (m_addonBusy) {
        row->addWidget(classedLabel(tr("Working..."), "dim"));
    } else if (status.installed) {
        if (status.updateAvailable)
            addButton(tr("Update"), "primary", false);
        addButton(tr("Uninstall"), "danger", true);
    } else {
        addButton(tr("Install"), "primary", false);
    }
}

void SetupView::buildClientsSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("AI CLIENTS"), "section-title"));
    if (!m_hasScan) {
        layout->addWidget(classedLabel(tr("Checking AI clients..."), "dim"));
        return;
    }

    auto *grid = new QGridLayout;
    grid->setSpacing(12);
    for (int column = 0; column < 3; ++column)
        grid->setColumnStretch(column, 1);
    layout->addLayout(grid, 0);

    int index = 0;
    for (const ClientInfo &info : std::as_const(m_clientInfos)) {
        const ClientCatalogue::Client *client = ClientCatalogue::find(info.id);
        if (!client || (!client->cardWhenAbsent && !info.installed && !info.configured))
            continue;
        auto *card = new QFrame;
        setClass(card, "client-card");
        card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        card->setMinimumHeight(158);
        grid->addWidget(card, index / 3, index % 3);
        ++index;
        if (const QString command = ClientCatalogue::registrationCommand(*client); !command.isEmpty())
            card->setToolTip(tr("Registered with: %1").arg(command));
        else if (!m_configPaths.value(info.id).isEmpty())
            card->setToolTip(tr("Configuration file: %1").arg(m_configPaths.value(info.id)));

        auto *cardLayout = new QVBoxLayout(card);
        cardLayout->setContentsMargins(16, 16, 16, 16);
        cardLayout->setSpacing(12);

        auto *header = new QHBoxLayout;
        header->setSpacing(10);
        cardLayout->addLayout(header);
        QLabel *icon = iconLabel(clientIcon(client->iconKey), s_accent, 20, 24);
        icon->setAlignment(Qt::AlignCenter);
        header->addWidget(icon);
        auto *name = new QLabel(info.name);
        name->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 13px; background: transparent;"));
        name->setWordWrap(true);
        header->addWidget(name, 1);

        QLabel *badge = nullptr;
        if (info.configured)
            badge = classedLabel(tr("Configured"), "badge-ok");
        else if (info.installed)
            badge = classedLabel(tr("Detected"), "badge-neutral");
        else
            badge = classedLabel(tr("Not installed"), "badge-neutral-muted");
        badge->setAlignment(Qt::AlignCenter);
        badge->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
        cardLayout->addWidget(badge, 0, Qt::AlignLeft);

        cardLayout->addStretch(0);

        if (info.installed || info.configured) {
            const QString id = info.id;
            const bool configured = info.configured;
            auto *button = new QPushButton(configured ? tr("Remove") : tr("Configure"));
            setClass(button, configured ? "secondary" : "primary");
            button->setMinimumHeight(32);
            button->setAccessibleName((configured ? tr("Remove ") : tr("Configure ")) + info.name);
            button->setCursor(Qt::PointingHandCursor);
            if (m_busyClients.contains(id)) {
                button->setEnabled(false);
                button->setText(tr("Working..."));
            }
            connect(button, &QAbstractButton::clicked, this, [this, id, configured] { changeClient(id, configured); });
            cardLayout->addWidget(button);
        } else {
            QLabel *hint = classedLabel(tr("Install the client to configure."), "faint");
            hint->setWordWrap(true);
            hint->setMinimumHeight(32);
            cardLayout->addWidget(hint);
        }
    }
}

void SetupView::buildPrereqsSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("PREREQUISITES"), "section-title"));
    if (!m_hasScan) {
        layout->addWidget(classedLabel(tr("Checking prerequisites..."), "dim"));
        return;
    }
    for (const PrereqResult &prereq : std::as_const(m_prereqResults)) {
        auto *item = new QFrame;
        setClass(item, "prereq-item");
        layout->addWidget(item);
        auto *row = new QHBoxLayout(item);
        row->addWidget(prereq.found ? iconLabel(Icons::CHECK_CIRCLE, QStringLiteral("#2dbe78"), 18, 22)
                                    : iconLabel(Icons::X_CIRCLE, QStringLiteral("#e5534b"), 18, 22));
        auto *name = new QLabel(prereq.name);
        name->setStyleSheet(QStringLiteral("font-weight: 600; background: transparent;"));
        row->addWidget(name);
        row->addWidget(prereq.found ? classedLabel(prereq.version, "dim") : classedLabel(prereq.hint, "faint"));
        row->addStretch(0);
    }
}

#include "gui/setup/setupview.h"

#include "core/godotlocator.h"
#include "core/godotproject.h"
#include "core/mcpserver.h"
#include "core/serverprobe.h"
#include "core/setupmodel.h"
#include "gui/setup/addoncard.h"
#include "gui/setup/clientcard.h"
#include "gui/setup/clientmenu.h"
#include "gui/setup/servercard.h"
#include "gui/widgets/cardgrid.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"
#include "gui/widgets/toast.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>
#include <QVBoxLayout>

using Theme::classedLabel;

SetupView::SetupView(SetupModel *model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);

    // Outcomes are reported whether or not the page was ever shown: a mode change made on the
    // Settings page re-registers the clients from here.
    connect(m_model, &SetupModel::operationFinished, this, &SetupView::reportOutcome);
    connect(m_model, &SetupModel::resyncFinished, this, &SetupView::reportResync);
    connect(m_model, &SetupModel::serverTestFinished, this, [this](const ServerProbeResult &result) {
        if (result.success)
            emit showToast(tr("Server test passed"), Toast::Success);
        else if (result.failure != ServerProbeResult::Failure::Cancelled)
            emit showToast(tr("Server test failed"), Toast::Error);
    });
}

void SetupView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    build();
}

void SetupView::refresh()
{
    build();
    m_model->refresh();
}

void SetupView::build()
{
    if (m_scroll)
        return;
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    // Everything wraps, elides or reflows: the page never scrolls sideways, and the area itself
    // is no Tab stop (its controls are).
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(40, 32, 40, 32);
    layout->setSpacing(24);
    // Attached before it is filled: with an application style sheet every reparenting of a
    // populated tree re-resolves the style of the whole subtree.
    m_scroll->setWidget(content);
    this->layout()->addWidget(m_scroll);

    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(classedLabel(tr("Setup"), "title"), 1);
    // A scan also runs when the window comes back after a few seconds away; this is for the
    // change made while the window was in front (a file edited in another monitor's editor).
    m_refresh = Theme::classedButton(tr("Refresh"), "secondary");
    m_refresh->setObjectName(QStringLiteral("setupRefresh"));
    connect(m_refresh, &QPushButton::clicked, m_model, &SetupModel::rescan);
    titleRow->addWidget(m_refresh, 0, Qt::AlignVCenter);
    layout->addLayout(titleRow);
    m_projectLine = new ElidedLabel;
    m_projectLine->setObjectName(QStringLiteral("projectPath"));
    Theme::setClass(m_projectLine, "mono");
    layout->addWidget(m_projectLine);
    m_noProject = classedLabel(tr("Select a project first from the Projects tab."), "dim");
    layout->addWidget(m_noProject);

    m_sections = new QWidget;
    layout->addWidget(m_sections);
    auto *sections = new QVBoxLayout(m_sections);
    sections->setContentsMargins(0, 0, 0, 0);
    sections->setSpacing(24);
    buildAddonSection(sections);
    buildClientsSection(sections);
    buildServerSection(sections);
    buildPrereqsSection(sections);
    layout->addStretch(0);

    connect(m_model, &SetupModel::addonChanged, this, &SetupView::showAddon);
    connect(m_model, &SetupModel::clientChanged, this, &SetupView::showClient);
    connect(m_model, &SetupModel::prerequisitesChanged, this, &SetupView::showPrerequisites);
    connect(m_model, &SetupModel::serverTestChanged, m_serverCard, &ServerCard::refresh);
    connect(m_model, &SetupModel::scanningChanged, this, &SetupView::showScanning);
    m_shownProject = m_model->project();
    showScanning();
    showAddon();
    for (const ClientCatalogue::Client &client : ClientCatalogue::all())
        showClient(client.id);
    showPrerequisites();
    // At once and whole, also when built while the page is being shown.
    m_scroll->show();
}

void SetupView::buildAddonSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("ADDON"), "section-title"));
    m_addonCard = new AddonCard;
    layout->addWidget(m_addonCard);
    connect(m_addonCard, &AddonCard::installRequested, m_model, &SetupModel::installAddon);
    connect(m_addonCard, &AddonCard::uninstallRequested, this, &SetupView::confirmUninstall);
    connect(m_addonCard, &AddonCard::enableRequested, m_model, &SetupModel::enablePlugin);
    connect(m_addonCard, &AddonCard::openInGodotRequested, this, &SetupView::openInGodot);
    GodotLocator *godot = m_model->godot();
    connect(godot, &GodotLocator::changed, m_addonCard, [this, godot] { m_addonCard->setGodot(*godot); });
    m_addonCard->setGodot(*godot);
    godot->start();
}

void SetupView::buildClientsSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("AI CLIENTS"), "section-title"));
    m_checkingClients = classedLabel(tr("Checking AI clients..."), "dim");
    layout->addWidget(m_checkingClients);
    // One card per client of the catalogue, in its order; the ones hidden while absent are named
    // in a line below the grid.
    m_grid = new CardGrid(3);
    m_grid->setObjectName(QStringLiteral("clientGrid"));
    layout->addWidget(m_grid);
    for (const ClientCatalogue::Client &client : ClientCatalogue::all()) {
        auto *card = new ClientCard(client, m_grid);
        m_cards.insert(client.id, card);
        connect(card, &ClientCard::actionRequested, this, [this](const QString &id, bool remove) {
            remove ? m_model->removeClient(id) : m_model->configureClient(id);
        });
        connect(card, &ClientCard::menuRequested, this, &SetupView::openClientMenu);
        m_grid->addCard(card);
    }
    m_absent = classedLabel(QString(), "dim");
    m_absent->setObjectName(QStringLiteral("absentClients"));
    m_absent->setWordWrap(true);
    layout->addWidget(m_absent);
}

void SetupView::buildServerSection(QVBoxLayout *layout)
{
    layout->addWidget(classedLabel(tr("MCP SERVER"), "section-title"));
    m_serverCard = new ServerCard(m_model->serverProbe());
    connect(m_serverCard, &ServerCard::testRequested, m_model, &SetupModel::testServer);
    connect(m_serverCard, &ServerCard::cancelRequested, m_model, &SetupModel::cancelServerTest);
    layout->addWidget(m_serverCard);
}

void SetupView::buildPrereqsSection(QVBoxLayout *layout)
{
    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(classedLabel(tr("PREREQUISITES"), "section-title"), 1);
    // After installing something in a terminal: the same scan as Refresh.
    m_checkAgain = Theme::classedButton(tr("Check Again"), "ghost");
    m_checkAgain->setObjectName(QStringLiteral("prereqCheckAgain"));
    connect(m_checkAgain, &QPushButton::clicked, m_model, &SetupModel::rescan);
    titleRow->addWidget(m_checkAgain);
    layout->addLayout(titleRow);
    m_checkingPrereqs = classedLabel(tr("Checking prerequisites..."), "dim");
    layout->addWidget(m_checkingPrereqs);
    m_prereqList = new QWidget;
    auto *list = new QVBoxLayout(m_prereqList);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(24);
    layout->addWidget(m_prereqList);
    buildUvHelp(layout);
}

void SetupView::buildUvHelp(QVBoxLayout *layout)
{
    m_uvHelp = new QFrame;
    m_uvHelp->setObjectName(QStringLiteral("uvHelp"));
    Theme::setClass(m_uvHelp, "prereq-item");
    auto *help = new QVBoxLayout(m_uvHelp);
    help->setSpacing(8);
    QLabel *why = classedLabel(tr("Your AI clients start the Tavrin server with uvx, which comes with uv. Install uv, "
                                  "then click Check Again."),
                               "dim");
    why->setWordWrap(true);
    help->addWidget(why);
    auto *commands = new QGridLayout;
    commands->setHorizontalSpacing(12);
    commands->setColumnStretch(1, 1);
    int row = 0;
    for (const Prereqs::InstallCommand &way : Prereqs::uvInstallCommands()) {
        commands->addWidget(classedLabel(way.label, "faint"), row, 0);
        QLabel *command = classedLabel(way.command, "mono");
        command->setObjectName(QStringLiteral("uvCommand"));
        command->setTextInteractionFlags(Qt::TextSelectableByMouse);
        command->setWordWrap(true);
        commands->addWidget(command, row, 1);
        QPushButton *copy = Theme::classedButton(tr("Copy"), "secondary");
        copy->setAccessibleName(tr("Copy %1").arg(way.command));
        connect(copy, &QPushButton::clicked, this, [this, command = way.command] {
            QGuiApplication::clipboard()->setText(command);
            emit showToast(tr("Copied. Paste it into a terminal, then click Check Again."), Toast::Success);
        });
        commands->addWidget(copy, row, 2);
        ++row;
    }
    help->addLayout(commands);
    QPushButton *guide = Theme::classedButton(tr("uv's installation guide"), "ghost");
    guide->setToolTip(Prereqs::uvInstallPage());
    connect(guide, &QPushButton::clicked, this, [this] {
        if (!QDesktopServices::openUrl(QUrl(Prereqs::uvInstallPage())))
            emit showToast(tr("Could not open %1: no program to open it was found").arg(Prereqs::uvInstallPage()),
                           Toast::Error);
    });
    help->addWidget(guide, 0, Qt::AlignLeft);
    m_uvHelp->hide();
    layout->addWidget(m_uvHelp);
}

void SetupView::setRefreshShortcut(const QString &shortcut)
{
    m_refreshShortcut = shortcut;
    showScanning();
}

void SetupView::showScanning()
{
    if (!m_refresh)
        return;
    // Off while a scan runs: what it finds shows on the cards when it ends.
    m_refresh->setEnabled(!m_model->isScanning());
    m_checkAgain->setEnabled(!m_model->isScanning());
    const QString tip = tr("Check the addon, the AI clients and the prerequisites again");
    m_refresh->setToolTip(m_refreshShortcut.isEmpty() ? tip : tr("%1 (%2)").arg(tip, m_refreshShortcut));
}

void SetupView::showAddon()
{
    const QString project = m_model->project();
    // Another project is another page: it starts at its top, where its name and addon are. The
    // same project's updates keep the place the user scrolled to.
    if (project != m_shownProject) {
        m_shownProject = project;
        m_scroll->verticalScrollBar()->setValue(0);
    }
    m_projectLine->setFullText(tr("Project: ") + project);
    m_projectLine->setToolTip(project);
    m_projectLine->setVisible(!project.isEmpty());
    m_noProject->setVisible(project.isEmpty());
    m_sections->setVisible(!project.isEmpty());
    m_refresh->setVisible(!project.isEmpty());
    m_addonCard->setStatus(m_model->addon(), m_model->chain(), m_model->isAddonBusy());
}

void SetupView::showClient(const QString &id)
{
    ClientCard *card = m_cards.value(id);
    if (!card)
        return;
    const bool scanned = m_model->hasScan();
    m_checkingClients->setVisible(!scanned);
    m_grid->setVisible(scanned);
    m_absent->setVisible(scanned);
    if (!scanned)
        return;
    const ClientInfo info = m_model->client(id);
    card->setInfo(info, m_model->permissionMode(), m_model->isBusy(id));
    const ClientCatalogue::Client *client = ClientCatalogue::find(id);
    const bool shown = client->cardWhenAbsent || info.installed || info.configured;
    if (card->isHidden() == shown) {
        card->setVisible(shown);
        m_grid->relayout();
    }
    QStringList absent;
    for (const ClientCatalogue::Client &row : ClientCatalogue::all()) {
        if (m_cards.value(row.id)->isHidden())
            absent << row.name;
    }
    m_absent->setText(tr("Also supported, not installed: %1").arg(absent.join(QStringLiteral(", "))));
    m_absent->setVisible(!absent.isEmpty());
}

void SetupView::showPrerequisites()
{
    const QList<PrereqResult> &prereqs = m_model->prerequisites();
    const bool scanned = m_model->hasScan();
    m_checkingPrereqs->setVisible(!scanned);
    m_prereqList->setVisible(scanned);
    bool uvMissing = false;
    for (const PrereqResult &prereq : prereqs) {
        if (!prereq.found && (prereq.name == QLatin1String("uv") || prereq.name == McpServer::program()))
            uvMissing = true;
    }
    m_uvHelp->setVisible(scanned && uvMissing);
    if (!scanned)
        return;
    auto *list = static_cast<QVBoxLayout *>(m_prereqList->layout());
    // A row per prerequisite, made the first time and updated after.
    while (m_prereqRows.size() < prereqs.size()) {
        auto *row = new QFrame;
        Theme::setClass(row, "prereq-item");
        auto *line = new QHBoxLayout(row);
        auto *icon = new QLabel;
        icon->setObjectName(QStringLiteral("prereqIcon"));
        icon->setFixedSize(22, 22);
        Theme::setClass(icon, "icon");
        line->addWidget(icon);
        auto *name = classedLabel(QString(), "item-name");
        name->setObjectName(QStringLiteral("prereqName"));
        line->addWidget(name);
        auto *detail = new QLabel;
        detail->setObjectName(QStringLiteral("prereqDetail"));
        detail->setWordWrap(true);
        line->addWidget(detail, 1);
        list->addWidget(row);
        m_prereqRows << row;
    }
    const qreal dpr = devicePixelRatioF();
    for (int i = 0; i < m_prereqRows.size(); ++i) {
        QFrame *row = m_prereqRows.at(i);
        row->setVisible(i < prereqs.size());
        if (i >= prereqs.size())
            continue;
        const PrereqResult &prereq = prereqs.at(i);
        row->findChild<QLabel *>(QStringLiteral("prereqIcon"))
            ->setPixmap(prereq.found
                            ? Icons::cached(Icons::CHECK_CIRCLE, QLatin1String(Theme::Palette::Success), 18, dpr)
                            : Icons::cached(Icons::X_CIRCLE, QLatin1String(Theme::Palette::Danger), 18, dpr));
        row->findChild<QLabel *>(QStringLiteral("prereqName"))->setText(prereq.name);
        auto *detail = row->findChild<QLabel *>(QStringLiteral("prereqDetail"));
        detail->setText(prereq.found ? prereq.version : prereq.hint);
        Theme::setClass(detail, prereq.found ? "dim" : "faint");
    }
}

void SetupView::confirmUninstall()
{
    const QString project = m_model->project();
    if (!m_model->chain().editors.isEmpty()) {
        closeGodotFirst();
        return;
    }
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
        if (box->clickedButton() == uninstall && m_model->project() == project)
            m_model->uninstallAddon();
    });
    box->open();
}

void SetupView::closeGodotFirst()
{
    // The editor would write its plugin list back, naming an addon that is gone.
    auto *box = new QMessageBox(QMessageBox::Information, tr("Uninstall Addon"),
                                tr("Close “%1” in Godot first.").arg(GodotProject::displayName(m_model->project())),
                                QMessageBox::Ok, this);
    box->setInformativeText(tr("Godot has the project open and keeps its own list of enabled plugins. Uninstall "
                               "once the editor is closed, so that Godot never looks for a missing addon."));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void SetupView::openInGodot()
{
    QString error;
    if (!m_model->openInGodot(&error)) {
        showFailure(tr("Opening the project in Godot failed"), error);
        emit showToast(tr("Opening the project in Godot failed"), Toast::Error);
        return;
    }
    const std::optional<GodotInstall> &godot = m_model->godot()->current();
    emit showToast(tr("Opening %1 in Godot %2")
                       .arg(GodotProject::displayName(m_model->project()), godot ? godot->version.text() : QString()),
                   Toast::Info);
}

void SetupView::openClientMenu(const QString &clientId, QWidget *button)
{
    // Parented to the page, not the card, like the dialogs it opens.
    auto *menu = new ClientMenu(m_model, m_model->client(clientId), m_model->permissionMode(), this);
    connect(menu, &ClientMenu::showToast, this, &SetupView::showToast);
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

void SetupView::reportOutcome(const SetupOutcome &outcome)
{
    if (!outcome.ok) {
        showFailure(outcome.message, outcome.detail, outcome.id);
        emit showToast(outcome.message, Toast::Error);
        return;
    }
    emit showToast(outcome.message, outcome.action == SetupOutcome::Action::Remove ? Toast::Info : Toast::Success);
    if (!outcome.note.isEmpty())
        emit showToast(outcome.note, Toast::Info);
}

void SetupView::reportResync(const ResyncSummary &summary)
{
    if (!summary.failed.isEmpty()) {
        showFailure(tr("Permission mode not applied to every client"), summary.detail);
        emit showToast(summary.message, Toast::Error);
    } else {
        emit showToast(summary.message, summary.applied.isEmpty() ? Toast::Info : Toast::Success);
    }
}

void SetupView::showFailure(const QString &title, const QString &error, const QString &clientId)
{
    // Non-modal: the toast and the rescan go on while the box is open.
    auto *box = new QMessageBox(QMessageBox::Warning, title, error, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // A file we refused to touch is one the user fixes by hand: the way to it is in the box.
    const ClientInfo client = m_model->client(clientId);
    if (!clientId.isEmpty() && !client.usesCli && QFileInfo(client.configPath).isFile()) {
        QPushButton *open = box->addButton(tr("Open Config File"), QMessageBox::ActionRole);
        const QString folder = QFileInfo(client.configPath).absolutePath();
        connect(box, &QMessageBox::finished, this, [this, box, open, folder] {
            if (box->clickedButton() == open && !QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
                emit showToast(tr("Could not open the folder %1.").arg(folder), Toast::Error);
        });
    }
    box->setWindowModality(Qt::NonModal);
    box->show();
}

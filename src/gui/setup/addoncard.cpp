#include "gui/setup/addoncard.h"

#include "core/addon.h"
#include "core/godotlocator.h"
#include "gui/widgets/cardfocus.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AddonCard::AddonCard(QWidget *parent) : ActionCard(Icons::LAPTOP, 24, 32, parent)
{
    setObjectName(QStringLiteral("addonCard"));
    setFocusPolicy(Qt::ClickFocus); // holds the focus while "Working..." stands for its buttons
    QVBoxLayout *column = textColumn();
    column->addWidget(Theme::classedLabel(tr("Tavrin Addon"), "card-title"));
    m_status = Theme::classedLabel(QString(), "dim");
    m_status->setObjectName(QStringLiteral("addonStatus"));
    m_status->setWordWrap(true);
    column->addWidget(m_status);
    m_chain = Theme::classedLabel(QString(), "dim");
    m_chain->setObjectName(QStringLiteral("addonChain"));
    m_chain->setWordWrap(true);
    column->addWidget(m_chain);
    m_godot = new ElidedLabel;
    m_godot->setObjectName(QStringLiteral("addonGodot"));
    column->addWidget(m_godot);

    const auto addButton = [this](const QString &text, const char *cls, const char *objectName) {
        QPushButton *button = Theme::classedButton(text, cls);
        button->setObjectName(QLatin1String(objectName));
        actions()->addWidget(button);
        return button;
    };
    actions()->setSpacing(8); // up to three buttons side by side, each with its own outline
    m_working = Theme::classedLabel(tr("Working..."), "dim");
    actions()->addWidget(m_working);
    // The chain's next step first, then the card's own buttons.
    m_enable = addButton(tr("Enable"), "primary", "addonEnable");
    // Starts another program: a step aside from the card's own operations, which stay primary.
    m_openInGodot = addButton(tr("Open in Godot"), "secondary", "addonOpenInGodot");
    m_reinstall = addButton(tr("Reinstall"), "secondary", "addonReinstall");
    m_update = addButton(tr("Update"), "primary", "addonUpdate");
    m_uninstall = addButton(tr("Uninstall"), "danger", "addonUninstall");
    m_install = addButton(tr("Install"), "primary", "addonInstall");
    connect(m_enable, &QPushButton::clicked, this, &AddonCard::enableRequested);
    connect(m_openInGodot, &QPushButton::clicked, this, &AddonCard::openInGodotRequested);
    connect(m_reinstall, &QPushButton::clicked, this, &AddonCard::installRequested);
    connect(m_update, &QPushButton::clicked, this, &AddonCard::installRequested);
    connect(m_install, &QPushButton::clicked, this, &AddonCard::installRequested);
    connect(m_uninstall, &QPushButton::clicked, this, &AddonCard::uninstallRequested);
    setStatus(AddonStatus(), GodotChain(), false);
}

QString AddonCard::statusText(const AddonStatus &status)
{
    if (!status.installed)
        return tr("Not installed");
    if (status.newerInstalled)
        return tr("Installed v%1 (newer than this app's v%2)").arg(status.installedVersion, status.bundledVersion);
    if (status.updateAvailable)
        return tr("Installed v%1 (update available: v%2)").arg(status.installedVersion, status.bundledVersion);
    return tr("Installed v%1").arg(status.installedVersion);
}

AddonCard::ChainLine AddonCard::chainLine(const AddonStatus &status, const GodotChain &chain)
{
    using Step = GodotChain::Step;
    const QString plugins = tr("Project → Project Settings → Plugins → Tavrin MCP");
    switch (chain.step(status)) {
    case Step::Unknown:
    case Step::None:
        return {};
    case Step::NeedsGodot4:
        return {tr("A Godot 3 project: the Tavrin MCP addon needs Godot 4"), "warn-text",
                tr("project.godot says config_version=%1; Godot 4 writes 5.").arg(chain.info.configVersion)};
    case Step::Unreadable:
        return {chain.inProject(chain.info.error), "error-text", chain.info.error};
    case Step::ListedMissing:
        return {tr("Listed in the project's plugins, but its folder is missing: Install puts it back"), "warn-text",
                tr("Godot warns about a missing plugin when it opens the project.")};
    case Step::Broken:
        return {tr("Godot will not load it: %1").arg(chain.inProject(chain.problem)), "error-text", chain.problem};
    case Step::Enable:
        return {tr("Not enabled in this project"), "dim",
                tr("Godot loads an editor plugin only when project.godot lists it.")};
    case Step::TickInEditor:
        return {tr("Not enabled: Godot has the project open, so tick %1 there (no restart needed)").arg(plugins),
                "warn-text",
                tr("An open editor keeps its own copy of the project settings and would write it over ours.")};
    case Step::Open:
        return {tr("Enabled · Not running: open the project in Godot"), "dim", {}};
    case Step::Reopen:
        return {tr("Enabled · Godot has the project open without Tavrin MCP: reload it there (Project → Reload "
                   "Current Project)"),
                "warn-text", tr("An editor loads the plugins listed when it opens the project.")};
    case Step::Reload:
        return {tr("Reload the project in Godot to load v%1").arg(status.installedVersion), "warn-text",
                tr("Godot runs v%1 of the addon; Project → Reload Current Project loads the installed one.")
                    .arg(chain.session->addonVersion)};
    case Step::Loaded:
        return {tr("Enabled · Loaded in Godot %1").arg(chain.loadedGodot()), "success-text",
                tr("Godot process %1").arg(chain.session->pid)};
    }
    return {};
}

void AddonCard::setStatus(const AddonStatus &status, const GodotChain &chain, bool busy)
{
    using Step = GodotChain::Step;
    QWidget *focused = CardFocus::take(this);
    const Step step = chain.step(status);
    m_status->setText(statusText(status));
    const ChainLine line = chainLine(status, chain);
    m_chain->setText(line.text);
    m_chain->setToolTip(line.toolTip);
    Theme::setClass(m_chain, line.cls);
    m_chain->setVisible(!line.text.isEmpty());
    // The editor in use matters once there is an addon for it to load.
    m_godotShown = status.installed && step != Step::NeedsGodot4;
    showGodotLine();

    // No Install or Update into a Godot 3 project: the addon would only break there.
    const bool godot4 = step != Step::NeedsGodot4;
    m_working->setVisible(busy);
    m_enable->setVisible(!busy && step == Step::Enable);
    m_openInGodot->setVisible(!busy && step == Step::Open);
    // Reinstalling puts this app's copy in place: never over a newer one, and Update does it anyway.
    m_reinstall->setVisible(!busy && step == Step::Broken && !status.updateAvailable && !status.newerInstalled);
    m_update->setVisible(!busy && godot4 && status.installed && status.updateAvailable);
    m_uninstall->setVisible(!busy && status.installed);
    m_install->setVisible(!busy && godot4 && !status.installed);
    CardFocus::settle(this, focused, {m_enable, m_openInGodot, m_reinstall, m_update, m_uninstall, m_install});
}

void AddonCard::setGodot(const GodotLocator &godot)
{
    const std::optional<GodotInstall> &install = godot.current();
    QString command;
    if (install) {
        const QString name = install->version.mono ? tr("Godot %1 (.NET)").arg(install->version.text())
                                                   : tr("Godot %1").arg(install->version.text());
        command = (QStringList{QDir::toNativeSeparators(install->program)} + install->arguments).join(QLatin1Char(' '));
        m_godotText = tr("%1 · %2").arg(name, command);
    } else {
        m_godotText = godot.unavailableReason();
    }
    m_godotClass = install || godot.isSearching() ? "faint" : "warn-text";
    m_openInGodot->setEnabled(install.has_value());
    m_openInGodot->setToolTip(install ? tr("Starts %1 on this project").arg(command) : m_godotText);
    showGodotLine();
}

void AddonCard::showGodotLine()
{
    m_godot->setFullText(m_godotText);
    Theme::setClass(m_godot, m_godotClass);
    m_godot->setVisible(m_godotShown && !m_godotText.isEmpty());
}

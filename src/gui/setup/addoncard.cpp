#include "gui/setup/addoncard.h"

#include "core/addon.h"
#include "gui/widgets/cardfocus.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"

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

    const auto addButton = [this](const QString &text, const char *cls, const char *objectName) {
        QPushButton *button = Theme::classedButton(text, cls);
        button->setObjectName(QLatin1String(objectName));
        actions()->addWidget(button);
        return button;
    };
    m_working = Theme::classedLabel(tr("Working..."), "dim");
    actions()->addWidget(m_working);
    m_update = addButton(tr("Update"), "primary", "addonUpdate");
    m_uninstall = addButton(tr("Uninstall"), "danger", "addonUninstall");
    m_install = addButton(tr("Install"), "primary", "addonInstall");
    connect(m_update, &QPushButton::clicked, this, &AddonCard::installRequested);
    connect(m_install, &QPushButton::clicked, this, &AddonCard::installRequested);
    connect(m_uninstall, &QPushButton::clicked, this, &AddonCard::uninstallRequested);
    setStatus(AddonStatus(), false);
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

void AddonCard::setStatus(const AddonStatus &status, bool busy)
{
    QWidget *focused = CardFocus::take(this);
    m_status->setText(statusText(status));
    m_working->setVisible(busy);
    m_update->setVisible(!busy && status.installed && status.updateAvailable);
    m_uninstall->setVisible(!busy && status.installed);
    m_install->setVisible(!busy && !status.installed);
    CardFocus::settle(this, focused, {m_update, m_uninstall, m_install});
}

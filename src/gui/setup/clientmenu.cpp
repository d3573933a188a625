#include "gui/setup/clientmenu.h"

#include "core/cliententry.h"
#include "core/mcpserver.h"
#include "core/setupmodel.h"
#include "gui/setup/entrydialog.h"
#include "gui/setup/restoredialog.h"
#include "gui/widgets/theme.h"
#include "gui/widgets/toast.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>
#include <QUrl>

ClientMenu::ClientMenu(SetupModel *model, const ClientInfo &client, const QString &permissionMode, QWidget *parent)
    : QMenu(parent), m_model(model), m_client(client), m_mode(permissionMode)
{
    Theme::setClass(this, "card-menu");
    setToolTipsVisible(true);
    const QString file = client.configPath;
    const bool known = !file.isEmpty();
    const QString unknown = tr("Tavrin does not know which file %1 keeps its servers in.").arg(client.name);

    QAction *restore = addItem(tr("Restore Previous Version…"),
                               tr("Put back a copy of %1 taken before one of Tavrin's changes.").arg(file),
                               !known                    ? unknown
                               : client.backupCount == 0 ? tr("No backups yet: Tavrin makes one before each "
                                                              "change it makes to %1.")
                                                               .arg(file)
                                                         : QString());
    connect(restore, &QAction::triggered, this, [this] {
        auto *dialog = new RestoreDialog(m_model, m_client.id, m_client.name, m_client.configPath, dialogParent());
        connect(dialog, &RestoreDialog::restored, this, [this] {
            emit showToast(tr("Restored %1's configuration. The version it replaced was backed up.").arg(m_client.name),
                           Toast::Success);
            m_model->clientFileRestored();
        });
        openDialog(dialog);
    });

    QAction *show = addItem(tr("Show Entry"),
                            client.usesCli ? tr("Show the \"tavrin\" entry as %1 reports it.").arg(client.name)
                                           : tr("Show the \"tavrin\" entry as it stands in %1.").arg(file),
                            client.configured ? QString() : tr("%1 has no \"tavrin\" entry.").arg(client.name));
    connect(show, &QAction::triggered, this, [this] { openDialog(new EntryDialog(m_client, m_mode, dialogParent())); });

    const QString folder = QFileInfo(file).absolutePath();
    QAction *open = addItem(tr("Open Config File"), tr("Show %1 in its folder.").arg(file),
                            !known                ? unknown
                            : client.configExists ? QString()
                                                  : tr("%1 does not exist yet.").arg(file));
    connect(open, &QAction::triggered, this, [this, folder] {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            emit showToast(tr("Could not open the folder %1.").arg(folder), Toast::Error);
    });

    QAction *copy = addItem(tr("Copy Entry"),
                            tr("Copy a %1 configuration holding the \"tavrin\" entry with %2, for adding it by hand.")
                                .arg(client.name, McpServer::modeName(permissionMode)),
                            QString());
    connect(copy, &QAction::triggered, this, [this] {
        const ClientCatalogue::Client *row = ClientCatalogue::find(m_client.id);
        if (!row)
            return;
        QGuiApplication::clipboard()->setText(ClientEntry::document(*row, m_mode));
        emit showToast(copiedText(*row), Toast::Success);
    });
}

// Where what Copy Entry copied goes: the whole file where there is none yet, else merged into it.
QString ClientMenu::copiedText(const ClientCatalogue::Client &row) const
{
    const QString copied = tr("Copied the \"tavrin\" entry with %1.").arg(McpServer::modeName(m_mode));
    const QString file = QDir::toNativeSeparators(m_client.configPath);
    if (file.isEmpty())
        return tr("%1 Paste it into %2's MCP configuration.").arg(copied, m_client.name);
    if (row.file.syntax == ClientCatalogue::Syntax::Toml)
        return tr("%1 Paste it at the end of %2.").arg(copied, file);
    if (!m_client.configExists)
        return tr("%1 Save it as %2.").arg(copied, file);
    return tr("%1 Paste it into %2, merging its \"%3\" with the one there.")
        .arg(copied, file, row.file.serversPath.join(QLatin1Char('.')));
}

QAction *ClientMenu::addItem(const QString &text, const QString &why, const QString &disabledWhy)
{
    QAction *action = addAction(text);
    action->setEnabled(disabledWhy.isEmpty());
    action->setToolTip(disabledWhy.isEmpty() ? why : disabledWhy);
    return action;
}

QWidget *ClientMenu::dialogParent() const
{
    return parentWidget() ? parentWidget()->window() : nullptr;
}

void ClientMenu::openDialog(QDialog *dialog)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    ++m_openDialogs;
    connect(dialog, &QDialog::finished, this, [this] {
        --m_openDialogs;
        releaseWhenDone();
    });
    dialog->open();
}

void ClientMenu::showEvent(QShowEvent *event)
{
    QMenu::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        // After the action that closed the menu has run, so that its dialog counts.
        connect(this, &QMenu::aboutToHide, this, [this] { QTimer::singleShot(0, this, &ClientMenu::releaseWhenDone); });
    }
}

void ClientMenu::releaseWhenDone()
{
    if (m_shown && !isVisible() && m_openDialogs == 0)
        deleteLater();
}

#include "gui/setup/clientmenu.h"

#include "gui/setup/clientcard.h"
#include "gui/setup/entrydialog.h"
#include "gui/setup/restoredialog.h"
#include "gui/widgets/theme.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QTimer>
#include <QUrl>

ClientMenu::ClientMenu(const ClientInfo &client, const QString &permissionMode, QWidget *parent)
    : QMenu(parent), m_client(client), m_mode(permissionMode)
{
    Theme::setClass(this, "card-menu");
    setToolTipsVisible(true);
    m_file = client.configPath.isEmpty() ? Clients::changedFilePath(client.id) : client.configPath;
    const bool known = !m_file.isEmpty();
    const bool exists = known && QFileInfo(m_file).isFile();
    const QString unknown = tr("Tavrin does not know which file %1 keeps its servers in.").arg(client.name);

    QAction *restore = addItem(tr("Restore Previous Version…"),
                               tr("Put back a copy of %1 taken before one of Tavrin's changes.").arg(m_file),
                               !known                           ? unknown
                               : Backups::count(client.id) == 0 ? tr("No backups yet: Tavrin makes one before each "
                                                                     "change it makes to %1.")
                                                                      .arg(m_file)
                                                                : QString());
    connect(restore, &QAction::triggered, this, [this] {
        auto *dialog = new RestoreDialog(m_client.id, m_client.name, m_file, dialogParent());
        connect(dialog, &RestoreDialog::restored, this, [this](const QString &clientId) {
            emit showToast(tr("Restored %1's configuration. The version it replaced was backed up.").arg(m_client.name),
                           1);
            emit restored(clientId);
        });
        openDialog(dialog);
    });

    QAction *show = addItem(tr("Show Entry"),
                            client.usesCli ? tr("Show the \"tavrin\" entry as %1 reports it.").arg(client.name)
                                           : tr("Show the \"tavrin\" entry as it stands in %1.").arg(m_file),
                            client.configured ? QString() : tr("%1 has no \"tavrin\" entry.").arg(client.name));
    connect(show, &QAction::triggered, this, [this] { openDialog(new EntryDialog(m_client, m_mode, dialogParent())); });

    const QString folder = QFileInfo(m_file).absolutePath();
    QAction *open = addItem(tr("Open Config File"), tr("Show %1 in its folder.").arg(m_file),
                            !known   ? unknown
                            : exists ? QString()
                                     : tr("%1 does not exist yet.").arg(m_file));
    connect(open, &QAction::triggered, this, [this, folder] {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            emit showToast(tr("Could not open the folder %1.").arg(folder), 2);
    });

    QAction *copy = addItem(tr("Copy Entry"),
                            tr("Copy the \"tavrin\" entry with %1, in %2's format, for adding it by hand.")
                                .arg(ClientCard::modeName(permissionMode), client.name),
                            QString());
    connect(copy, &QAction::triggered, this, [this] {
        QGuiApplication::clipboard()->setText(entryText(m_client.id, m_mode));
        emit showToast(tr("Copied the \"tavrin\" entry with %1.").arg(ClientCard::modeName(m_mode)), 1);
    });
}

QAction *ClientMenu::addItem(const QString &text, const QString &why, const QString &disabledWhy)
{
    QAction *action = addAction(text);
    action->setEnabled(disabledWhy.isEmpty());
    action->setToolTip(disabledWhy.isEmpty() ? why : disabledWhy);
    return action;
}

QString ClientMenu::entryText(const QString &clientId, const QString &permissionMode)
{
    const ClientCatalogue::Client *row = ClientCatalogue::find(clientId);
    if (!row)
        return {};
    if (Clients::backupLayout(clientId).syntax == Backups::Syntax::Toml) {
        // Modes are plain [a-z_] words: nothing to escape.
        return QStringLiteral("[mcp_servers.tavrin]\ncommand = \"uvx\"\nargs = [\"tavrin\"]\n\n"
                              "[mcp_servers.tavrin.env]\nGODOT_MCP_PERMISSION_MODE = \"%1\"\n")
            .arg(permissionMode);
    }
    // The member inside its object, taken out and shifted left by the one level of indent.
    const QJsonObject wrapped{{QStringLiteral("tavrin"), Clients::mcpEntry(row->entry, permissionMode)}};
    QStringList lines = QString::fromUtf8(QJsonDocument(wrapped).toJson(QJsonDocument::Indented)).split('\n');
    lines = lines.mid(1, lines.size() - 3);
    for (QString &line : lines)
        line.remove(0, 4);
    return lines.join(QLatin1Char('\n'));
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

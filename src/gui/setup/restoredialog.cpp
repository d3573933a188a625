#include "gui/setup/restoredialog.h"

#include "core/setupmodel.h"
#include "gui/widgets/theme.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { TakenColumn, SizeColumn, HoldsColumn };
enum Role { PathRole = Qt::UserRole, TimeRole };

} // namespace

RestoreDialog::RestoreDialog(SetupModel *model, const QString &clientId, const QString &clientName,
                             const QString &targetPath, QWidget *parent)
    : QDialog(parent), m_model(model), m_clientId(clientId), m_clientName(clientName), m_target(targetPath)
{
    setWindowTitle(tr("Restore %1 Configuration").arg(clientName));
    resize(640, 420);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    layout->addWidget(Theme::classedLabel(tr("Restore a previous version"), "dialog-title"));
    QLabel *about = Theme::classedLabel(tr("Tavrin copies %1's configuration before every change it makes. "
                                           "Restoring replaces the file below with the chosen copy; the file as "
                                           "it is now is backed up first, so a restore can be undone too.")
                                            .arg(clientName),
                                        "dim");
    about->setWordWrap(true);
    layout->addWidget(about);
    QLabel *path = Theme::classedLabel(targetPath, "mono");
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path->setWordWrap(true);
    layout->addWidget(path);

    m_list = new QTreeWidget;
    m_list->setObjectName(QStringLiteral("backupList"));
    Theme::setClass(m_list, "backup-list");
    m_list->setHeaderLabels({tr("Taken"), tr("Size"), tr("Holds")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setSectionResizeMode(TakenColumn, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(SizeColumn, QHeaderView::ResizeToContents);
    layout->addWidget(m_list, 1);

    m_status = Theme::classedLabel(QString(), "dim");
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    m_error = Theme::classedLabel(QString(), "error-text");
    m_error->setObjectName(QStringLiteral("error"));
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_error->hide();
    layout->addWidget(m_error);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *close = Theme::classedButton(tr("Close"), "secondary");
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(close);
    m_restore = Theme::classedButton(tr("Restore"), "primary");
    m_restore->setEnabled(false);
    connect(m_restore, &QPushButton::clicked, this, &RestoreDialog::restoreSelected);
    buttons->addWidget(m_restore);
    layout->addLayout(buttons);

    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_restore->setEnabled(!m_list->selectedItems().isEmpty()); });
    reload();
}

QString RestoreDialog::timeText(const QDateTime &time)
{
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString RestoreDialog::sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

void RestoreDialog::reload()
{
    // A newer reading replaces one still running, whose result is then dropped with its context.
    delete m_reading;
    m_reading = new QObject(this);
    m_list->clear();
    m_list->setEnabled(false);
    m_restore->setEnabled(false);
    m_status->setText(tr("Reading the backups..."));
    m_status->show();
    m_model->listBackups(m_clientId, m_reading,
                         [this](const QList<Backups::Backup> &backups) { showBackups(backups); });
}

void RestoreDialog::showBackups(const QList<Backups::Backup> &backups)
{
    m_list->setEnabled(true);
    for (const Backups::Backup &backup : backups) {
        const QString taken = backup.original ? tr("%1 · Before Tavrin's first change").arg(timeText(backup.time))
                                              : timeText(backup.time);
        auto *item = new QTreeWidgetItem(m_list, {taken, sizeText(backup.size), backup.summary});
        item->setData(TakenColumn, PathRole, backup.path);
        item->setData(TakenColumn, TimeRole, timeText(backup.time));
        item->setToolTip(TakenColumn, backup.path);
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    }
    if (backups.isEmpty()) {
        m_status->setText(tr("No backups yet. Tavrin makes one before each change it makes to this file."));
        return;
    }
    m_status->hide();
    // The newest is what the file held before the last change: the usual way back.
    m_list->setCurrentItem(m_list->topLevelItem(0));
}

void RestoreDialog::restoreSelected()
{
    const QList<QTreeWidgetItem *> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    const QString path = selected.first()->data(TakenColumn, PathRole).toString();
    const QString taken = selected.first()->data(TakenColumn, TimeRole).toString();
    // Names the client and the time, so that a click on the wrong row or dialog is caught here.
    auto *box = new QMessageBox(QMessageBox::Question, windowTitle(),
                                tr("Restore %1's configuration as it was at %2?").arg(m_clientName, taken),
                                QMessageBox::NoButton, this);
    box->setInformativeText(tr("The file as it is now is backed up first, so this can be undone."));
    QPushButton *restore = box->addButton(tr("Restore"), QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(restore);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, restore, path] {
        if (box->clickedButton() == restore)
            this->restore(path);
    });
    box->open();
}

void RestoreDialog::restore(const QString &path)
{
    m_list->setEnabled(false);
    m_restore->setEnabled(false);
    m_model->restoreBackup(m_clientId, path, m_target, this, [this](bool ok, const QString &error) {
        if (!ok) {
            m_error->setText(tr("Could not restore the backup. %1").arg(error));
            m_error->show();
            reload(); // the current file may have been backed up before the failure
            return;
        }
        emit restored(m_clientId);
        accept();
    });
}

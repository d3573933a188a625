#pragma once

#include "core/backups.h"

#include <QDialog>
#include <QFutureWatcher>
#include <QList>
#include <QString>

class QLabel;
class QPushButton;
class QTreeWidget;

// Lists the backups of one client's file, newest first, with when each was taken, its size and
// what it holds of ours, and puts the chosen one back. Backups::restore first backs up the file it
// replaces, so a restore can itself be undone. The list is read on the thread pool (a client's
// file can run to megabytes, twenty times over); the restore is one small file copy and runs on
// the GUI thread.
class RestoreDialog : public QDialog
{
    Q_OBJECT
public:
    RestoreDialog(const QString &clientId, const QString &clientName, const QString &targetPath,
                  QWidget *parent = nullptr);

    // Local time for people, to the second: backups are often taken moments apart.
    [[nodiscard]] static QString timeText(const QDateTime &time);
    [[nodiscard]] static QString sizeText(qint64 bytes);

signals:
    void restored(const QString &clientId);

private:
    void reload();
    void showBackups(const QList<Backups::Backup> &backups);
    void restoreSelected();

    QString m_clientId;
    QString m_target;
    QTreeWidget *m_list = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_error = nullptr;
    QPushButton *m_restore = nullptr;
    QFutureWatcher<QList<Backups::Backup>> *m_watcher = nullptr;
};

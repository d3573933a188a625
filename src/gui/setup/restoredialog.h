#pragma once

#include "core/backups.h"

#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QPushButton;
class QTreeWidget;
class SetupModel;

// Lists the backups of one client's file, newest first, with when each was taken, its size and
// what it holds of ours, and puts the chosen one back. Backups::restore first backs up the file it
// replaces, so a restore can itself be undone. Both the reading (a client's file can run to
// megabytes, twenty times over) and the restore run on the Setup model's workers.
class RestoreDialog : public QDialog
{
    Q_OBJECT
public:
    RestoreDialog(SetupModel *model, const QString &clientId, const QString &clientName, const QString &targetPath,
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
    void restore(const QString &path);

    SetupModel *m_model;
    QString m_clientId;
    QString m_clientName;
    QString m_target;
    QTreeWidget *m_list = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_error = nullptr;
    QPushButton *m_restore = nullptr;
    QObject *m_reading = nullptr; // the context of the reading in flight: a newer one replaces it
};

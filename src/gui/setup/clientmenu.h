#pragma once

#include "core/clients.h"

#include <QMenu>
#include <QString>

class QDialog;
class SetupModel;

// The menu behind a client card's "⋯" button: put back a backup of the client's file, see our
// entry as it stands, open the file's folder, copy the entry for editing the file by hand. Built
// from one detection result, which also says whether the file exists and how many backups it has,
// so that opening it touches no disk; an action that cannot apply is disabled, its tool tip saying
// why. Once shown, the menu deletes itself after it has closed and the dialogs it opened are gone.
class ClientMenu : public QMenu
{
    Q_OBJECT
public:
    ClientMenu(SetupModel *model, const ClientInfo &client, const QString &permissionMode, QWidget *parent = nullptr);

signals:
    void showToast(const QString &msg, int type);

protected:
    void showEvent(QShowEvent *event) override;

private:
    [[nodiscard]] QString copiedText(const ClientCatalogue::Client &row) const;
    QAction *addItem(const QString &text, const QString &why, const QString &disabledWhy);
    void openDialog(QDialog *dialog);
    void releaseWhenDone();
    [[nodiscard]] QWidget *dialogParent() const;

    SetupModel *m_model;
    ClientInfo m_client;
    QString m_mode;
    int m_openDialogs = 0;
    bool m_shown = false;
};

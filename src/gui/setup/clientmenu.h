#pragma once

#include "core/clients.h"

#include <QMenu>
#include <QString>

class QDialog;

// The menu behind a client card's "⋯" button: put back a backup of the client's file, see our
// entry as it stands, open the file's folder, copy the entry for editing the file by hand. Built
// from one detection result; an action that cannot apply is disabled, its tool tip saying why.
// Once shown, the menu deletes itself after it has closed and the dialogs it opened are gone: the
// page that opened it may rebuild its cards meanwhile without cutting the dialogs off.
class ClientMenu : public QMenu
{
    Q_OBJECT
public:
    ClientMenu(const ClientInfo &client, const QString &permissionMode, QWidget *parent = nullptr);

    // Our entry for the mode, ready to paste into the client's file: `"tavrin": {...}` in the
    // client's own shape, or the TOML table for a client whose file is TOML.
    [[nodiscard]] static QString entryText(const QString &clientId, const QString &permissionMode);

signals:
    // A backup was put back: the client's state is to be read again.
    void restored(const QString &clientId);
    void showToast(const QString &msg, int type);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QAction *addItem(const QString &text, const QString &why, const QString &disabledWhy);
    void openDialog(QDialog *dialog);
    void releaseWhenDone();
    [[nodiscard]] QWidget *dialogParent() const;

    ClientInfo m_client;
    QString m_mode;
    QString m_file; // where changes to the entry go
    int m_openDialogs = 0;
    bool m_shown = false;
};

#pragma once

#include "core/clients.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QVBoxLayout;

// Our entry in plain sight, read-only and selectable. For a client whose file we edit: the file
// and the entry's text as written there. For a client registered through its own CLI: the command
// line that registers it and the entry as the client itself reports it, asked on the Setup model's
// workers (some tools start the server to check it, which takes seconds), plus the entry in the
// tool's file where that is JSON.
class EntryDialog : public QDialog
{
    Q_OBJECT
public:
    EntryDialog(const ClientInfo &client, const QString &permissionMode, QWidget *parent = nullptr);

    // The entry's text in the client's file as written, or, with *found false, why there is none.
    [[nodiscard]] static QString fileEntryText(const QString &clientId, const QString &path, bool *found = nullptr);
    // The command line that registers the entry with the mode, for a CLI client.
    [[nodiscard]] static QString commandLine(const QString &clientId, const QString &mode);

private:
    void addFileBlock(QVBoxLayout *layout, const QString &path, const QString &text);
    void askClient(const QString &clientId, QPlainTextEdit *report);
};

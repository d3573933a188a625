#include "gui/setup/entrydialog.h"

#include "base/jsonfile.h"
#include "base/toolprocess.h"
#include "core/asynctask.h"
#include "core/cliententry.h"
#include "core/mcpserver.h"
#include "core/setupmodel.h"
#include "gui/widgets/theme.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

constexpr int s_queryMs = 15000;

QPlainTextEdit *codeBox(const QString &text, const QString &objectName)
{
    auto *box = new QPlainTextEdit(text);
    box->setObjectName(objectName);
    Theme::setClass(box, "code");
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    return box;
}

QLabel *selectable(const QString &text, const char *cls, const QString &objectName)
{
    QLabel *label = Theme::classedLabel(text, cls);
    label->setObjectName(objectName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    return label;
}

// The answer of a client's query, for people: colours dropped, JSON indented.
QString reportText(const ToolResult &result, const QString &program, const QString &command)
{
    if (!result.started)
        return EntryDialog::tr("Could not start %1: %2").arg(program, result.errorString);
    if (!result.finished)
        return EntryDialog::tr("%1 did not answer within %2 seconds.").arg(program).arg(s_queryMs / 1000);
    static const QRegularExpression s_colours(QStringLiteral("\x1b\\[[0-9;]*m"));
    QString out = QString::fromUtf8(result.output).remove(s_colours).trimmed();
    const QString err = QString::fromUtf8(result.errorOutput).remove(s_colours).trimmed();
    if (result.crashed || result.exitCode != 0) {
        const QString why = result.crashed
                                ? EntryDialog::tr("%1 failed.").arg(command)
                                : EntryDialog::tr("%1 failed with exit code %2.").arg(command).arg(result.exitCode);
        return why + QLatin1Char('\n') + (err.isEmpty() ? out : err);
    }
    const QJsonDocument json = QJsonDocument::fromJson(result.output);
    if (json.isObject())
        return QString::fromUtf8(json.toJson(QJsonDocument::Indented)).trimmed();
    return out.isEmpty() ? EntryDialog::tr("%1 printed nothing.").arg(command) : out;
}

} // namespace

EntryDialog::EntryDialog(const ClientInfo &client, const QString &permissionMode, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("%1 Entry").arg(client.name));
    resize(640, 520);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);
    layout->addWidget(Theme::classedLabel(tr("The \"tavrin\" entry of %1").arg(client.name), "dialog-title"));

    const QString path = client.configPath;
    const ClientCatalogue::Client *row = ClientCatalogue::find(client.id);
    if (row && row->usesCli) {
        const QString mode = client.mode.isEmpty() ? permissionMode : client.mode;
        layout->addWidget(Theme::classedLabel(tr("Registered with"), "dim"));
        layout->addWidget(selectable(commandLine(client.id, mode), "mono", QStringLiteral("command")));
        const QString query = row->executables.first() + QLatin1Char(' ') + row->cli.query.join(QLatin1Char(' '));
        layout->addWidget(Theme::classedLabel(tr("As %1 reports it (%2)").arg(client.name, query), "dim"));
        QPlainTextEdit *report = codeBox(tr("Asking %1...").arg(client.name), QStringLiteral("report"));
        layout->addWidget(report, 1);
        // The tool's own file too, where it is JSON and holds the entry.
        if (row->file.syntax != ClientCatalogue::Syntax::Toml && QFileInfo(path).isFile()) {
            bool found = false;
            const QString text = fileEntryText(client.id, path, &found);
            if (found)
                addFileBlock(layout, path, text);
        }
        askClient(client.id, report);
    } else {
        addFileBlock(layout, path, fileEntryText(client.id, path));
    }

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton *close = Theme::classedButton(tr("Close"), "secondary");
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(close);
    layout->addLayout(buttons);
}

void EntryDialog::addFileBlock(QVBoxLayout *layout, const QString &path, const QString &text)
{
    layout->addWidget(Theme::classedLabel(tr("File"), "dim"));
    layout->addWidget(selectable(path, "mono", QStringLiteral("path")));
    layout->addWidget(codeBox(text, QStringLiteral("entry")), 1);
}

void EntryDialog::askClient(const QString &clientId, QPlainTextEdit *report)
{
    const ClientCatalogue::Client *row = ClientCatalogue::find(clientId);
    const QString program = row->executables.first();
    const QString command = program + QLatin1Char(' ') + row->cli.query.join(QLatin1Char(' '));
    const QString exe = Clients::findExecutable(program);
    if (exe.isEmpty()) {
        report->setPlainText(tr("%1 was not found on the PATH.").arg(program));
        return;
    }
    // Closing the dialog drops the answer; the tool still ends within its limit.
    const QStringList args = row->cli.query;
    AsyncTask::runThenCallback(
        SetupModel::workers(), report,
        [exe, args] {
            return ToolProcess::run(exe, args, ToolProcess::NoStartWait, s_queryMs, 3000,
                                    ToolProcess::Channels::Separate);
        },
        [report, program, command](const ToolResult &result) {
            report->setPlainText(reportText(result, program, command));
        });
}

QString EntryDialog::fileEntryText(const QString &clientId, const QString &path, bool *found)
{
    bool foundHere = false;
    const ClientCatalogue::Client *row = ClientCatalogue::find(clientId);
    if (found)
        *found = false;
    if (!row)
        return {};
    QByteArray bytes;
    QString error;
    switch (JsonFile::readBytes(path, &bytes, &error)) {
    case JsonFile::ReadStatus::Missing:
        return tr("The file does not exist yet.");
    case JsonFile::ReadStatus::Ok:
        break;
    default:
        return tr("The file cannot be read: %1").arg(error);
    }
    QString text = ClientEntry::writtenText(bytes, row->file, &foundHere);
    if (found)
        *found = foundHere;
    return text;
}

QString EntryDialog::commandLine(const QString &clientId, const QString &mode)
{
    const ClientCatalogue::Client *row = ClientCatalogue::find(clientId);
    if (!row || !row->usesCli)
        return {};
    return ClientCatalogue::registrationCommand(*row) +
           QStringLiteral(" --env %1=%2 -- %3").arg(McpServer::modeVariable(), mode, McpServer::command());
}

#include "gui/setup/servercard.h"

#include "core/clientcatalogue.h"
#include "core/mcpserver.h"
#include "core/serverprobe.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ServerCard::ServerCard(const ServerProbe *probe, QWidget *parent)
    : ActionCard(Icons::SERVER, 24, 32, parent), m_probe(probe)
{
    setObjectName(QStringLiteral("serverCard"));
    QVBoxLayout *column = textColumn();
    column->addWidget(Theme::classedLabel(tr("Tavrin MCP Server"), "card-title"));

    m_status = Theme::classedLabel(QString(), "dim");
    m_status->setObjectName(QStringLiteral("serverStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse); // failure texts get copied into reports
    column->addWidget(m_status);
    // uv's progress, one line at a time; a long line must not widen the page.
    m_progress = new ElidedLabel(QString(), nullptr, Qt::ElideRight);
    m_progress->setObjectName(QStringLiteral("serverDetail"));
    Theme::setClass(m_progress, "mono");
    column->addWidget(m_progress);
    m_note = Theme::classedLabel(QString(), "faint");
    m_note->setObjectName(QStringLiteral("serverDetail"));
    m_note->setWordWrap(true);
    column->addWidget(m_note);

    m_button = Theme::classedButton(QString(), "secondary");
    m_button->setObjectName(QStringLiteral("serverTest"));
    m_button->setToolTip(tr("Starts “%1” as your AI clients do and lists its tools").arg(McpServer::command()));
    connect(m_button, &QAbstractButton::clicked, this, [this] {
        if (m_probe->isRunning())
            emit cancelRequested();
        else
            emit testRequested();
    });
    actions()->addWidget(m_button);

    connect(probe, &ServerProbe::progress, this, [this](qint64 elapsedMs, const QString &line) {
        m_status->setText(progressText(elapsedMs));
        m_progress->setFullText(line);
    });
    refresh();
}

void ServerCard::refresh()
{
    const bool running = m_probe->isRunning();
    const ServerProbeResult &result = m_probe->lastResult();
    QStringList lines;
    if (running)
        lines << progressText(m_probe->elapsedMs());
    else if (result.message.isEmpty())
        lines << tr("Not tested yet");
    else
        lines = describe(result);
    m_status->setText(lines.value(0));
    m_progress->setFullText(running ? m_probe->lastStderrLine() : QString());
    m_progress->setVisible(running);
    m_note->setText(lines.mid(1).join(QLatin1Char('\n')));
    m_note->setVisible(!running && lines.size() > 1);
    m_button->setText(running ? tr("Cancel") : tr("Test Server"));
    m_button->setAccessibleName(running ? tr("Cancel Server Test") : tr("Test Server"));
}

QString ServerCard::progressText(qint64 elapsedMs)
{
    return tr("Starting “%1”… %2 s").arg(McpServer::command()).arg(elapsedMs / 1000);
}

QStringList ServerCard::describe(const ServerProbeResult &result)
{
    QStringList lines{result.message};
    if (!result.success || result.firstAnswerMs <= SlowStartMs)
        return lines;
    QStringList slow;
    for (const ClientCatalogue::Client &client : ClientCatalogue::all()) {
        if (client.startLimitSeconds > 0 && qint64(client.startLimitSeconds) * 1000 < result.firstAnswerMs)
            slow << tr("%1 about %2 s").arg(client.name).arg(client.startLimitSeconds);
    }
    if (!slow.isEmpty())
        lines << tr("Clients that wait less long for a server to start (%1) may have failed to start it before; "
                    "now that uv has it, they will start it quickly.")
                     .arg(slow.join(QStringLiteral(", ")));
    return lines;
}

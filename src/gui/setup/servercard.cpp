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

#include <algorithm>

ServerCard::ServerCard(const ServerProbe *probe, QWidget *parent)
    : ActionCard(Icons::SERVER, 24, 32, parent), m_probe(probe)
{
    setObjectName(QStringLiteral("serverCard"));
    QVBoxLayout *column = textColumn();
    column->addWidget(Theme::classedLabel(tr("Tavrin MCP Server"), "card-title"));

    auto *statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    m_outcome = new QLabel;
    m_outcome->setObjectName(QStringLiteral("serverOutcome"));
    m_outcome->setFixedSize(16, 16);
    Theme::setClass(m_outcome, "icon");
    statusRow->addWidget(m_outcome, 0, Qt::AlignTop);
    m_status = Theme::classedLabel(QString(), "dim");
    m_status->setObjectName(QStringLiteral("serverStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse); // failure texts get copied into reports
    statusRow->addWidget(m_status, 1);
    column->addLayout(statusRow);
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
    // One width for both labels and a place at the top: the button does not move under the
    // pointer while the progress lines come and go.
    int widest = 0;
    for (const QString &label : {tr("Test Server"), tr("Cancel")}) {
        m_button->setText(label);
        m_button->ensurePolished();
        widest = std::max(widest, m_button->sizeHint().width());
    }
    m_button->setMinimumWidth(widest);
    keepActionsAtTop();

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
    // A cancelled test is neither: it says so in plain text.
    const bool ended = !running && !result.message.isEmpty() && result.failure != ServerProbeResult::Failure::Cancelled;
    const bool passed = ended && result.success;
    m_outcome->setVisible(ended);
    if (ended)
        m_outcome->setPixmap(
            passed ? Icons::cached(Icons::CHECK_CIRCLE, QLatin1String(Theme::Palette::Success), 16, devicePixelRatioF())
                   : Icons::cached(Icons::X_CIRCLE, QLatin1String(Theme::Palette::Danger), 16, devicePixelRatioF()));
    Theme::setClass(m_status, !ended ? "dim" : (passed ? "success-text" : "error-text"));
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

#include "gui/setup/servercard.h"

#include "core/clientcatalogue.h"
#include "core/serverprobe.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ServerCard::ServerCard(const ServerProbe *probe, QWidget *parent) : ActionCard(Icons::SERVER, 24, 32, parent)
{
    setObjectName(QStringLiteral("serverCard"));
    QVBoxLayout *column = textColumn();
    auto *title = new QLabel(tr("Tavrin MCP Server"));
    title->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 14px; background: transparent;"));
    column->addWidget(title);

    const bool running = probe->isRunning();
    const ServerProbeResult &result = probe->lastResult();
    QStringList lines;
    if (running)
        lines << progressText(probe->elapsedMs());
    else if (result.message.isEmpty())
        lines << tr("Not tested yet");
    else
        lines = describe(result);

    m_status = Theme::classedLabel(lines.value(0), "dim");
    m_status->setObjectName(QStringLiteral("serverStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse); // failure texts get copied into reports
    column->addWidget(m_status);

    if (running) {
        // uv's progress, one line at a time; a long line must not widen the page.
        auto *detail = new ElidedLabel(probe->lastStderrLine(), nullptr, Qt::ElideRight);
        Theme::setClass(detail, "mono");
        m_detail = detail;
        connect(probe, &ServerProbe::progress, this, [this, detail](qint64 elapsedMs, const QString &line) {
            m_status->setText(progressText(elapsedMs));
            detail->setFullText(line);
        });
    } else if (lines.size() > 1) {
        m_detail = Theme::classedLabel(lines.mid(1).join(QLatin1Char('\n')), "faint");
        m_detail->setWordWrap(true);
    }
    if (m_detail) {
        m_detail->setObjectName(QStringLiteral("serverDetail"));
        column->addWidget(m_detail);
    }

    auto *button = new QPushButton(running ? tr("Cancel") : tr("Test Server"));
    button->setObjectName(QStringLiteral("serverTest"));
    Theme::setClass(button, "secondary");
    button->setAccessibleName(running ? tr("Cancel Server Test") : tr("Test Server"));
    button->setToolTip(tr("Starts “uvx tavrin” as your AI clients do and lists its tools"));
    button->setCursor(Qt::PointingHandCursor);
    connect(button, &QAbstractButton::clicked, this, [this, running] {
        if (running)
            emit cancelRequested();
        else
            emit testRequested();
    });
    actions()->addWidget(button);
}

QString ServerCard::progressText(qint64 elapsedMs)
{
    return tr("Starting “uvx tavrin”… %1 s").arg(elapsedMs / 1000);
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

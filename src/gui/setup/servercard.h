#pragma once

#include "gui/widgets/actioncard.h"

class QLabel;
class ServerProbe;
struct ServerProbeResult;

// The Setup page's MCP server card: what the last server test found, or its progress while one
// runs, and the button that starts or cancels it. The test itself belongs to the page, so a card
// built anew in the middle of a test shows it as it is; while it runs the card follows the
// probe's progress ticks.
class ServerCard : public ActionCard
{
    Q_OBJECT
public:
    // A successful start slower than this may have been too slow for some clients.
    static constexpr qint64 SlowStartMs = 10000;

    explicit ServerCard(const ServerProbe *probe, QWidget *parent = nullptr);

    // The lines under the card's title for a finished test: its message, and after a slow start a
    // note naming the clients that wait less long than it took.
    [[nodiscard]] static QStringList describe(const ServerProbeResult &result);
    [[nodiscard]] static QString progressText(qint64 elapsedMs);

signals:
    void testRequested();
    void cancelRequested();

private:
    QLabel *m_status = nullptr;
    QLabel *m_detail = nullptr;
};

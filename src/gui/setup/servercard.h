#pragma once

#include "gui/widgets/actioncard.h"

class ElidedLabel;
class QLabel;
class QPushButton;
class ServerProbe;
struct ServerProbeResult;

// The Setup page's MCP server card: what the last server test found, or its progress while one
// runs (following the probe's ticks), and the button that starts or cancels it. Built once;
// refresh() shows the probe's state after a test starts or ends.
class ServerCard : public ActionCard
{
    Q_OBJECT
public:
    // A successful start slower than this may have been too slow for some clients.
    static constexpr qint64 SlowStartMs = 10000;

    explicit ServerCard(const ServerProbe *probe, QWidget *parent = nullptr);

    void refresh();

    // The lines under the card's title for a finished test: its message, and after a slow start a
    // note naming the clients that wait less long than it took.
    [[nodiscard]] static QStringList describe(const ServerProbeResult &result);
    [[nodiscard]] static QString progressText(qint64 elapsedMs);

signals:
    void testRequested();
    void cancelRequested();

private:
    const ServerProbe *m_probe;
    QLabel *m_outcome = nullptr; // a tick or a cross once a test has ended
    QLabel *m_status = nullptr;
    ElidedLabel *m_progress = nullptr; // uv's last line while a test runs
    QLabel *m_note = nullptr;          // the slow-start note after one
    QPushButton *m_button = nullptr;
};

#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Keeps the application to one running copy per user and data folder. The first start listens on
// a local socket; a later start hands over to it (which then brings its window forward) and ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one to run: it now listens for later starts (or, when a
    // listener gave no valid answer, runs without that guard). False when another copy of this
    // user's confirmed the request to show itself; this process should end.
    [[nodiscard]] bool claim();
    // Per user and per data folder, so that separate homes (tests, other accounts) never meet; a
    // path in the user's private runtime folder where there is one.
    [[nodiscard]] static QString serverName();
    [[nodiscard]] QString lastError() const { return m_lastError; }

signals:
    // A later start asked this copy to show its window.
    void activationRequested();

private:
    enum class HandOver { Done, NoListener, NoAnswer };
    [[nodiscard]] HandOver handOver(const QString &name);
    [[nodiscard]] bool runUnguarded(const QString &name);
    // Listens for later starts; when that fails, runs without the guard and says why.
    void listenOrGoUnguarded(const QString &name);
    void answer();

    QLocalServer *m_server = nullptr;
    QString m_lastError;
};

#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// One prerequisite program as found on the PATH.
struct PrereqResult
{
    QString name;
    bool found = false;
    QString version;
    QString hint;
};

// Checks that Python, uv and uvx are on the PATH and asks each for its version.
class Prereqs : public QObject
{
    Q_OBJECT
public:
    explicit Prereqs(QObject *parent = nullptr);

    [[nodiscard]] QList<PrereqResult> check() const;
    [[nodiscard]] static PrereqResult checkExe(const QString &name, const QString &program, const QStringList &args,
                                               const QString &hint);
};

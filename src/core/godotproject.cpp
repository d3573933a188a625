#include "core/godotproject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

const QLatin1String s_marker("/project.godot");

// A Godot string value: "..." with backslash escapes; anything else is taken as it stands.
QString unquote(const QString &value)
{
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) || !value.endsWith(QLatin1Char('"')))
        return value;
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 1; i < value.size() - 1; ++i) {
        QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size() - 1) {
            c = value.at(++i);
            if (c == QLatin1Char('n'))
                c = QLatin1Char('\n');
            else if (c == QLatin1Char('t'))
                c = QLatin1Char('\t');
        }
        out.append(c);
    }
    return out;
}

} // namespace

bool GodotProject::isProject(const QString &folder)
{
    return !folder.isEmpty() && QFileInfo(folder + s_marker).isFile();
}

QString GodotProject::displayName(const QString &folder)
{
    const QString name = configName(folder).simplified();
    return name.isEmpty() ? QDir(folder).dirName() : name;
}

QString GodotProject::configName(const QString &folder)
{
    QFile file(folder + s_marker);
    if (folder.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream stream(&file);
    QString section;
    QString line;
    while (stream.readLineInto(&line)) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            if (section == QLatin1String("application"))
                break; // the section is over
            section = line.mid(1, line.indexOf(QLatin1Char(']')) - 1).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (section == QLatin1String("application") && equals > 0 &&
            QStringView(line).left(equals).trimmed() == QLatin1String("config/name"))
            return unquote(line.mid(equals + 1).trimmed());
    }
    return {};
}

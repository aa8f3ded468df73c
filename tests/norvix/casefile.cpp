#include "casefile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

namespace {

const QString AnyLines = QStringLiteral("...");

bool lineMatches(const QString& line, const QString& pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(line).hasMatch();
}

bool matchFrom(const QStringList& lines, int line, const QStringList& patterns, int pattern)
{
    if (pattern == patterns.size())
        return line == lines.size();
    if (patterns.at(pattern) == AnyLines) {
        for (int skip = line; skip <= lines.size(); ++skip) {
            if (matchFrom(lines, skip, patterns, pattern + 1))
                return true;
        }
        return false;
    }
    return line < lines.size() && lineMatches(lines.at(line), patterns.at(pattern))
        && matchFrom(lines, line + 1, patterns, pattern + 1);
}

bool apply(NorvixCase* current, const QString& key, const QString& value)
{
    if (key == QLatin1String("case"))
        current->name = value;
    else if (key == QLatin1String("store"))
        current->store = value;
    else if (key == QLatin1String("env"))
        current->env = value;
    else if (key == QLatin1String("run"))
        current->run = value;
    else if (key == QLatin1String("status"))
        current->status = value.toInt();
    else if (key == QLatin1String("before"))
        current->before.append(value);
    else if (key == QLatin1String("out"))
        current->out.append(value);
    else if (key == QLatin1String("check"))
        current->checks.append(value);
    else
        return false;
    return true;
}

} // namespace

namespace CaseFile {

QList<NorvixCase> read(const QString& path, QString* error)
{
    QList<NorvixCase> cases;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read ") + path;
        return cases;
    }
    QTextStream stream(&file);
    NorvixCase current;
    int number = 0;
    const auto close = [&] {
        if (!current.name.isEmpty())
            cases.append(current);
        current = NorvixCase();
    };
    while (!stream.atEnd()) {
        const QString line = stream.readLine();
        ++number;
        if (line.trimmed().isEmpty()) {
            close();
            continue;
        }
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const int colon = line.indexOf(QLatin1Char(':'));
        if (current.name.isEmpty())
            current.line = number;
        // One blank after the colon belongs to the layout; the rest is the value's.
        const QString value = line.mid(colon + 1).startsWith(QLatin1Char(' ')) ? line.mid(colon + 2) : line.mid(colon + 1);
        if (colon < 0 || !apply(&current, line.left(colon), value)) {
            *error = QStringLiteral("%1:%2: not a case line: %3").arg(path).arg(number).arg(line);
            return cases;
        }
    }
    close();
    return cases;
}

QString fill(const QString& text, const QMap<QString, QString>& values, bool pattern)
{
    QString filled = text;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        filled.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'),
                       pattern ? QRegularExpression::escape(it.value()) : it.value());
    return filled;
}

bool linesMatch(const QStringList& lines, const QStringList& patterns)
{
    return matchFrom(lines, 0, patterns, 0);
}

} // namespace CaseFile

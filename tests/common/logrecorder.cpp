#include "logrecorder.h"

LogRecorder* LogRecorder::_current = nullptr;

LogRecorder::LogRecorder()
{
    Q_ASSERT(!_current);
    _current = this;
    _previous = qInstallMessageHandler(record);
}

LogRecorder::~LogRecorder()
{
    qInstallMessageHandler(_previous);
    _current = nullptr;
}

int LogRecorder::count(QtMsgType type, const QString& text) const
{
    int found = 0;
    for (const Line& line : _lines) {
        if (line.type == type && line.text.contains(text))
            ++found;
    }
    return found;
}

QStringList LogRecorder::messages(const QString& category, const QString& function) const
{
    QStringList found;
    for (const Line& line : _lines) {
        if (line.category == category && (function.isEmpty() || line.function == function))
            found << line.message;
    }
    return found;
}

QStringList LogRecorder::messages(const QString& category, QtMsgType type) const
{
    QStringList found;
    for (const Line& line : _lines) {
        if (line.category == category && line.type == type)
            found << line.message;
    }
    return found;
}

QStringList LogRecorder::functions(const QString& category) const
{
    QStringList found;
    for (const Line& line : _lines) {
        if (line.category == category)
            found << line.function;
    }
    return found;
}

// A line of the log macro: category, source, line number, signature, function, message.
void LogRecorder::record(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('\n'));
    if (parts.size() >= 6)
        _current->_lines.append({type, text, parts.at(0), parts.at(4), parts.mid(5).join(QLatin1Char('\n'))});
    else
        _current->_lines.append({type, text, QString(), QString(), text});
    if (_current->_listener)
        _current->_listener(_current->_lines.last());
    if (_current->_previous)
        _current->_previous(type, context, text);
}

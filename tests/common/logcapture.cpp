#include "logcapture.h"

LogCapture* LogCapture::_current = nullptr;

LogCapture::LogCapture()
{
    Q_ASSERT(!_current);
    _current = this;
    _previous = qInstallMessageHandler(handle);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(_previous);
    _current = nullptr;
}

QStringList LogCapture::messages(const QString& category, const QString& function) const
{
    QStringList found;
    for (const Line& line : _lines) {
        if (line.category == category && (function.isEmpty() || line.function == function))
            found << line.message;
    }
    return found;
}

QStringList LogCapture::messages(const QString& category, QtMsgType type) const
{
    QStringList found;
    for (const Line& line : _lines) {
        if (line.category == category && line.type == type)
            found << line.message;
    }
    return found;
}

QStringList LogCapture::functions(const QString& category) const
{
    QStringList found;
    for (const Line& line : _lines) {
        if (line.category == category)
            found << line.function;
    }
    return found;
}

// A line of the log macro: category, source, line number, signature, function, message.
void LogCapture::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QStringList parts = message.split(QLatin1Char('\n'));
    if (parts.size() >= 6)
        _current->_lines.append({type, parts.at(0), parts.at(4), parts.mid(5).join(QLatin1Char('\n'))});
    else
        _current->_lines.append({type, QString(), QString(), message});
    if (_current->_previous)
        _current->_previous(type, context, message);
}

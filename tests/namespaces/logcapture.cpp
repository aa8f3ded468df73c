#include "logcapture.h"

namespace {

QStringList captured;

void capture(QtMsgType, const QMessageLogContext&, const QString& text)
{
    captured << text;
}

} // namespace

LogCapture::LogCapture()
    : _previous(qInstallMessageHandler(capture))
{
    captured.clear();
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(_previous);
}

QList<LogCapture::Line> LogCapture::lines() const
{
    // category, source, line number, signature, function name, then the message
    QList<Line> result;
    for (const QString& text : captured) {
        const QStringList fields = text.split(QLatin1Char('\n'));
        if (fields.size() < 6)
            result << Line{QString(), QString(), text};
        else
            result << Line{fields.at(0), fields.at(1), fields.mid(5).join(QLatin1Char('\n'))};
    }
    return result;
}

QStringList LogCapture::messages() const
{
    QStringList result;
    for (const Line& line : lines())
        result << line.message;
    return result;
}

bool LogCapture::logged(const QString& start) const
{
    for (const QString& message : messages()) {
        if (message.startsWith(start))
            return true;
    }
    return false;
}

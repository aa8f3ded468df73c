#include "logrecorder.h"

#include <QList>
#include <QPair>

namespace {

QtMessageHandler previousHandler = nullptr;
QList<QPair<QtMsgType, QString>> recorded;

void recordingHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    recorded << qMakePair(type, message);
    previousHandler(type, context, message);
}

} // namespace

LogRecorder::LogRecorder()
{
    recorded.clear();
    previousHandler = qInstallMessageHandler(recordingHandler);
}

LogRecorder::~LogRecorder()
{
    qInstallMessageHandler(previousHandler);
}

int LogRecorder::count(QtMsgType type, const QString& text) const
{
    int found = 0;
    for (const auto& entry : qAsConst(recorded)) {
        if (entry.first == type && entry.second.contains(text))
            ++found;
    }
    return found;
}

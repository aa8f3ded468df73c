#ifndef LOGRECORDER_H
#define LOGRECORDER_H

#include <QStringList>
#include <QtGlobal>

// Records what the process logs while it lives, passing every message on as before.
class LogRecorder
{
public:
    LogRecorder();
    ~LogRecorder();

    // The messages of a level that contain the text.
    int count(QtMsgType type, const QString& text) const;

private:
    Q_DISABLE_COPY(LogRecorder)
};

#endif

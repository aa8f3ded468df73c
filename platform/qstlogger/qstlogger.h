#ifndef QSTLOGGER_H
#define QSTLOGGER_H

#include <QString>
#include <QtGlobal>

class QFile;

// Takes over Qt's message output for as long as it lives.
//
// The configuration is an INI file; every key is optional and a missing file means defaults:
//     level=debug        lowest level written: debug, info, warning or critical
//     file=/path/to/log  append to this file instead of standard error
class QstLogger
{
public:
    explicit QstLogger(const QString& configPath);
    ~QstLogger();

private:
    Q_DISABLE_COPY(QstLogger)

    static void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

    QtMessageHandler _previousHandler;
};

#endif

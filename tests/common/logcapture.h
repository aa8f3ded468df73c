#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Keeps the log lines written while it lives, split as the log macro writes them, and passes
// each on to the handler that was installed before. One at a time.
class LogCapture
{
public:
    struct Line {
        QtMsgType type;
        QString category;
        QString function;
        QString message;
    };

    LogCapture();
    ~LogCapture();

    const QList<Line>& lines() const { return _lines; }
    // The messages of a category, in order; only those of one function when it is given.
    QStringList messages(const QString& category, const QString& function = QString()) const;
    // The messages of a category at one level.
    QStringList messages(const QString& category, QtMsgType type) const;
    // The functions of a category that logged, in order, once per line.
    QStringList functions(const QString& category) const;
    void clear() { _lines.clear(); }

private:
    Q_DISABLE_COPY(LogCapture)

    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

    static LogCapture* _current;
    QtMessageHandler _previous;
    QList<Line> _lines;
};

#endif

#ifndef LOGRECORDER_H
#define LOGRECORDER_H

#include <QList>
#include <QStringList>
#include <QtGlobal>

#include <functional>

// Records what the process logs while it lives, passing every message on as before. A line of
// the log macro is kept split into its category, function and message. One at a time.
class LogRecorder
{
public:
    struct Line {
        QtMsgType type;
        QString text;
        QString category;
        QString function;
        QString message;
    };

    LogRecorder();
    ~LogRecorder();

    const QList<Line>& lines() const { return _lines; }
    // The messages of a level that contain the text.
    int count(QtMsgType type, const QString& text) const;
    // The messages of a category, in order; only those of one function when it is given.
    QStringList messages(const QString& category, const QString& function = QString()) const;
    // The messages of a category at one level.
    QStringList messages(const QString& category, QtMsgType type) const;
    // The functions of a category that logged, in order, once per line.
    QStringList functions(const QString& category) const;
    void clear() { _lines.clear(); }
    // Called with each line once recorded, inside the call that logs it.
    void setListener(std::function<void(const Line&)> listener) { _listener = std::move(listener); }

private:
    Q_DISABLE_COPY(LogRecorder)

    static void record(QtMsgType type, const QMessageLogContext& context, const QString& text);

    static LogRecorder* _current;
    QtMessageHandler _previous;
    QList<Line> _lines;
    std::function<void(const Line&)> _listener;
};

#endif

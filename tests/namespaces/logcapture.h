#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Collects the log lines written while it exists, split into the log macro's fields.
class LogCapture
{
public:
    struct Line
    {
        QString category;
        QString source;
        QString message;
    };

    LogCapture();
    ~LogCapture();

    QList<Line> lines() const;
    QStringList messages() const;
    // Whether some message starts with the text.
    bool logged(const QString& start) const;

private:
    Q_DISABLE_COPY(LogCapture)
    QtMessageHandler _previous;
};

#endif

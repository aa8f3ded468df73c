#ifndef REFRESHENDS_H
#define REFRESHENDS_H

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QVector>

// The ends of refreshes as the daemon signals them, completed or with an error code, each with
// its time since the recorder was made or last cleared.
class RefreshEnds : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(RefreshEnds)

public:
    RefreshEnds();

    // Waits for `count` ends in all; false on time-out or when one was an error other than
    // `accepted`, which it names on standard output.
    bool waitFor(int count, int accepted = -1);
    void clear();

    const QStringList& uris() const { return _uris; }
    // Milliseconds from the start to each end, in order of arrival.
    const QVector<double>& times() const { return _times; }

signals:
    void ended();

private slots:
    void completed(const QString& uri);
    void failed(const QString& uri, int code);

private:
    void record(const QString& uri);

    QElapsedTimer _clock;
    QStringList _uris;
    QVector<double> _times;
    QHash<QString, int> _errors;
};

#endif

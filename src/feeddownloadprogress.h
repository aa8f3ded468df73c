#ifndef FEEDDOWNLOADPROGRESS_H
#define FEEDDOWNLOADPROGRESS_H

#include <QElapsedTimer>

// The time left of a running download, from the rate of the last interval between two progress
// reports of the plug-in.
class FeedDownloadProgress
{
public:
    // A download starts; a resumed one has bytesAlready of the file from before, and the plug-in
    // counts those in every report.
    void start(qint64 bytesAlready = 0);

    // Seconds left after a report; 0 while the total is unknown (below 0), once it is reached,
    // or when nothing came since the last report. Every report starts a new interval.
    qint64 timeRemaining(qint64 bytesReceived, qint64 bytesTotal);
    // The same for an interval of elapsedMs since the last report.
    qint64 timeRemaining(qint64 bytesReceived, qint64 bytesTotal, qint64 elapsedMs);

private:
    QElapsedTimer _progressTimer;
    qint64 _lastBytesReceived = 0;
};

#endif

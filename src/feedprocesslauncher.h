#ifndef FEEDPROCESSLAUNCHER_H
#define FEEDPROCESSLAUNCHER_H

#include <QMap>
#include <QObject>
#include <QProcess>

class QMutex;

// Starts the companion programs of the launch list each time the scheduler wakes up to work;
// a program that still runs is left alone, one that has ended is started again.
class FeedProcessLauncher : public QObject
{
    Q_OBJECT

public:
    static FeedProcessLauncher* instance();
    static void releaseInstance();

private slots:
    void executeProcess();
    void terminateProcess(int exitCode);
    void processError(QProcess::ProcessError error);

private:
    Q_DISABLE_COPY(FeedProcessLauncher)

    FeedProcessLauncher();

    bool createProcessList();
    void startProcess(const QString& command);
    void releaseProcess(QProcess* process);

    static FeedProcessLauncher* _single;
    static QMutex _mutex;

    // Command line to running flag, started in key order.
    QMap<QString, bool> _processList;
};

#endif

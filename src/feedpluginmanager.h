#ifndef FEEDPLUGINMANAGER_H
#define FEEDPLUGINMANAGER_H

#include "feedargument.h"
#include "feedchannel.h"
#include "feedenclosure.h"
#include "feedmethod.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QVariantMap>

class QFile;
class QProcess;
class QTimer;

// Owns the fetching plug-in processes: starts them on demand, checks their protocol version,
// sends the active one its requests and re-emits its results, watches it for hangs and
// cleans up after it.
//
// Every download request ends in exactly one of: a Finished or Failed signal of its kind
// (202 when it could not be sent at all), or pluginExited() when its process ended first.
// Results of earlier downloads or of replaced processes never end a later one.
class FeedPluginManager : public QObject
{
    Q_OBJECT

public:
    // The waits of the protocol; tests shorten them.
    struct Limits
    {
        int startTimeout = 30000; // ms until a started program must run
        int callTimeout = 30000;  // ms for the answer to a synchronous request
        qint64 hangLimit = 30000; // ms without progress after which a download counts as hung
        int stopGrace = 3000;     // ms a terminated plug-in gets before it is killed
    };

    // The code of a download that could not be handed to a plug-in.
    static constexpr int NotSentError = 202;

    static FeedPluginManager* instance();
    static void releaseInstance();
    // Whether a load of the name could start a program: one of the plug-in folder, by the name
    // as given.
    static bool isInstalled(const QString& name);

    Limits limits() const { return _limits; }
    void setLimits(const Limits& limits);

    bool isBusy();
    void downloadFeeds(const FeedChannel& channel);
    void downloadEnclosure(const FeedEnclosure& enclosure, bool resume);
    void cancelDownload(bool pause);
    FeedChannel channel() const;
    QString version() const;
    void resetActivePlugin();
    int processCount() const;

signals:
    void downloadFeedsFinished();
    void downloadFeedsFailed(int errorCode);
    void downloadEnclosureFinished(QVariantMap result);
    void downloadEnclosureFailed(int errorCode);
    void enclosureDownloadProgress(qlonglong bytesReceived, qlonglong bytesTotal);
    void pluginExited(QString type);

public slots:
    void unloadPlugins();

private slots:
    void slotPluginResponse();
    void cleanupPluginFinished(int exitCode);

private:
    FeedPluginManager();
    ~FeedPluginManager() override;
    Q_DISABLE_COPY(FeedPluginManager)

    static FeedMethod makeFeedMethod(const QByteArray& name, const FeedArgument& a0 = FeedArgument(),
                                     const FeedArgument& a1 = FeedArgument(),
                                     const FeedArgument& a2 = FeedArgument(),
                                     const FeedArgument& a3 = FeedArgument(),
                                     const FeedArgument& a4 = FeedArgument(),
                                     const FeedArgument& a5 = FeedArgument(),
                                     const FeedArgument& a6 = FeedArgument(),
                                     const FeedArgument& a7 = FeedArgument(),
                                     const FeedArgument& a8 = FeedArgument(),
                                     const FeedArgument& a9 = FeedArgument());
    template<typename T>
    static FeedArgument toFeedArgument(const T& value);

    void call(const FeedMethod& method) const;
    template<typename T>
    T call(const FeedMethod& method) const;
    QFile* openCommunicationFile(const QString& path);

    bool loadPluginApplication(const QString& name);
    bool unloadPluginApplication(const QString& name);
    bool setActivePlugin(const QString& name);

    quint32 send(QProcess* process, FeedMethod method);
    bool exchange(QProcess* process, FeedMethod request, FeedArgument* result);
    bool readRecords(QProcess* process, quint32 awaitedAnswer = 0, bool* answered = nullptr);
    bool readAnswer(QProcess* process, const FeedMethod& request, FeedArgument* result);
    void dispatchSignal(QProcess* process, const FeedMethod& record);
    void deliver(QProcess* process, quint32 sequence, const QByteArray& name,
                 const QVariantList& values);

    void startJob(const FeedMethod& request, bool enclosure);
    void failUnsent(bool enclosure, const FeedChannel& channel = FeedChannel());
    void endJob();
    void checkHung();
    bool askElapsedTime(QProcess* process, qlonglong* elapsed);
    void countRestart(QProcess* process);
    void countAnswer(const QProcess* process);
    void breakProcess(QProcess* process, const char* reason);
    bool markStopping(QProcess* process);
    void stopProcess(QProcess* process);
    void stopAndWait(QProcess* process);
    void forgetProcess(QProcess* process);
    QString nameOf(QProcess* process) const;

    QMap<QString, QProcess*> _processes;
    // Loads since each plug-in last answered a download; restarts raise it, answers clear it.
    QMap<QString, int> _loadCount;
    QMap<QString, QFile*> _communicationFiles;
    QProcess* _activeProcess = nullptr;

    Limits _limits;
    // Processes asked to stop; they stay registered until they have exited.
    QSet<QProcess*> _stopping;
    // The process a synchronous request waits on: its records are read by the request.
    QProcess* _waitingProcess = nullptr;
    quint32 _sequence = 0;
    // The outstanding download: its request's sequence number and the process it went to
    // (none when it could not be sent).
    quint32 _jobSequence = 0;
    QProcess* _jobProcess = nullptr;
    bool _jobOpen = false;
    // A feed download that could not be sent still names its channel.
    FeedChannel _unsentChannel;
    QTimer* _watch;
};

#endif

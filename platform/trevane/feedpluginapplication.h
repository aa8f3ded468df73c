#ifndef FEEDPLUGINAPPLICATION_H
#define FEEDPLUGINAPPLICATION_H

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

class FeedArgument;
class FeedMethod;
class FeedPluginInterface;
class QSocketNotifier;

// The plug-in process's end of the plug-in protocol.
//
// Requests arrive as records on standard input and are delivered to the plug-in's public
// interface slots; a slot's result goes into the communication file named by the first
// command-line argument, followed by a wake-up record on standard output. The plug-in's
// signals go out as records on standard output, tagged with the request that started the
// current download. "version" and "elapsedTime" are answered here. Standard output carries
// nothing but records: from construction on, whatever else writes to it lands on standard
// error. The application quits when standard input closes.
class FeedPluginApplication : public QCoreApplication
{
    Q_OBJECT

public:
    FeedPluginApplication(FeedPluginInterface* plugin, int& argc, char** argv);
    ~FeedPluginApplication() override;

    // The version reported for "version"; FeedProtocol::InterfaceVersion unless changed.
    QString interfaceVersion() const { return _interfaceVersion; }
    void setInterfaceVersion(const QString& version) { _interfaceVersion = version; }

    // Milliseconds since the current download last made progress; 0 when idle.
    qint64 elapsedTime() const;

    // The sequence number of the request that started the current or last download; the
    // plug-in's signal records carry it.
    quint32 jobSequence() const { return _jobSequence; }

    // Writes bytes to the protocol channel unchanged. Plug-ins use it only to stage faults.
    bool writeOutput(const QByteArray& bytes);

private slots:
    void readInput();

private:
    Q_DISABLE_COPY(FeedPluginApplication)

    void connectSignals();
    void handleRecords();
    void handleRequest(const FeedMethod& request);
    bool invokePlugin(const FeedMethod& request, FeedArgument* result);
    void answer(const FeedMethod& request, const FeedArgument& result);
    void sendSignal(const FeedMethod& record);
    void startJob(quint32 sequence);
    void endJob();
    void fail(const QString& reason);

    FeedPluginInterface* _plugin;
    QString _interfaceVersion;
    QFile _communicationFile;
    QSocketNotifier* _inputNotifier = nullptr;
    QByteArray _input;
    int _output = -1;
    quint32 _jobSequence = 0;
    bool _busy = false;
    QElapsedTimer _progress;
};

#endif

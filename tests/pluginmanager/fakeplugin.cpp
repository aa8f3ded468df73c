// A fetching plug-in that stages one behaviour, good or faulty, chosen by the name it is
// started under (the test links the program under each scenario's name):
//   good, tamsil  answers well; a channel whose link starts with "wait" runs until cancelled or
//                 paused, and with "wait-progress" each "channel" answer is preceded by progress.
//                 By the scheme of the link: "wait-finish" finishes when cancelled, "fail-<code>"
//                 fails with that code, "other-uri" is answered with a channel of another URI and
//                 "with-message" with a channel holding one message, "with-enclosures" with one
//                 message holding the enclosures of FAKE_PLUGIN_ENCLOSURES ("<remote> <local>"
//                 pairs, ";" between them; essential, the last optional); "hang-once" runs
//                 without progress the first time any process is asked for the link.
//                 Enclosures, by the scheme of the remote URL: "wait" runs until cancelled or paused,
//                 "once" does so the first time it is asked for and finishes later, "late" answers
//                 either with 203, a moment later; "203" pauses on its own and "fail-<code>"
//                 fails with that code; any other finishes (writing no file)
//   stubborn      answers well and ignores SIGTERM
//   wrongversion  reports interface version "0.2"
//   mute          never answers anything
//   crash         dies by a signal when asked to download
//   hang          starts a download and never makes progress
//   freeze        blocks its event loop when asked to download
//   dying         blocks its event loop when asked to download and dies at the next request
//                 (or a second later, should that request have been read already)
//   split         writes its failure record in two parts with a pause between
//   garbage       writes a record that does not parse
//   oversized     writes a record claiming more bytes than any record may have
//   hostile       writes an enclosure result whose map holds a list claiming 0x7fffffff elements
//   unknown       writes records of names and types the daemon must not act on, then finishes
//   late          answers each "channel" request only once the next request has arrived
//   stale         before each download, repeats a failure record of its previous download
//   chatty        answers well but also prints to standard output on its own

#include "feedmethod.h"
#include "feedpluginapplication.h"
#include "feedplugininterface.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

class FakePlugin : public FeedPluginInterface
{
    Q_OBJECT

public:
    explicit FakePlugin(const QString& scenario)
        : _scenario(scenario)
    {
    }

    void setApplication(FeedPluginApplication* application) { _application = application; }

public slots:
    void downloadFeeds(const FeedChannel& channel) override
    {
        _request = channel;
        // As tamsil's, "channel" answers the last channel fetched well: a failure converts nothing.
        if (!kind().startsWith("fail-"))
            _channel = channel;
        _waiting = WaitingFeed;
        if (_scenario == "crash") {
            const rlimit noCore = {0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            // Death by the signal, also where a sanitizer would catch it, report it and exit.
            std::signal(SIGSEGV, SIG_DFL);
            std::raise(SIGSEGV);
        } else if (_scenario == "freeze") {
            for (;;)
                ::pause();
        } else if (_scenario == "dying") {
            dieAtNextRequest();
        } else if (_scenario == "split") {
            writeSplitRecord();
        } else if (_scenario == "garbage") {
            _application->writeOutput(QByteArray("\0\0\0\x08garbage!", 12));
        } else if (_scenario == "oversized") {
            _application->writeOutput(QByteArray("\xff\xff\xff\xff....", 8));
        } else if (_scenario == "hostile") {
            writeHostileRecord();
        } else if (_scenario == "unknown") {
            writeUnknownRecords();
        } else if (_scenario == "stale" && _previousJob) {
            _application->writeOutput(FeedMethod::toByteArray(failure(500, _previousJob)));
        } else if (_scenario == "chatty") {
            std::printf("fetching...\n");
            std::fflush(stdout);
            ::write(STDOUT_FILENO, "more\n", 5);
        }
        if (QStringList({"good", "tamsil", "unknown", "stale", "chatty", "stubborn"}).contains(_scenario))
            fetch(channel);
    }

    void downloadEnclosure(const FeedEnclosure& enclosure) override { startEnclosure(enclosure, "new"); }

    void resumeDownloadEnclosure(const FeedEnclosure& enclosure) override { startEnclosure(enclosure, "resumed"); }

    void cancelDownload() override
    {
        if (_waiting == WaitingFeed && kind() == "wait-finish")
            finishFeed();
        else
            stopEnclosureOr(201);
    }
    void pauseDownloadEnclosure() override { stopEnclosureOr(203); }

    FeedChannel channel() override
    {
        ++_channelCalls;
        if (_channel.link() == "wait-progress")
            emit enclosureDownloadProgress(_channelCalls, 7);
        if (_scenario == "late")
            awaitNextRequest();
        FeedChannel answer = _channel;
        answer.setTitle(QStringLiteral("answer %1").arg(_channelCalls));
        if (kind() == "other-uri")
            answer.setUri(_channel.uri() + "-other");
        if (kind() == "with-message" || kind() == "with-enclosures") {
            FeedMessage message;
            message.setTitle(QStringLiteral("A message"));
            message.setLink(QStringLiteral("http://127.0.0.1/message/") + _channel.link().section(':', 1));
            if (kind() == "with-enclosures")
                message.setEnclosures(enclosuresFromEnvironment());
            QList<FeedMessage> messages{message};
            answer.setMessages(messages);
        }
        return answer;
    }

private:
    enum Waiting { Idle, WaitingFeed, WaitingEnclosure };

    QString kind() const { return _request.link().section(':', 0, 0); }

    static QList<FeedEnclosure> enclosuresFromEnvironment()
    {
        QList<FeedEnclosure> enclosures;
        const QStringList entries = qEnvironmentVariable("FAKE_PLUGIN_ENCLOSURES").split(';', Qt::SkipEmptyParts);
        for (const QString& entry : entries) {
            FeedEnclosure enclosure;
            enclosure.setRemoteUrl(entry.section(' ', 0, 0));
            enclosure.setLocalUrl(entry.section(' ', 1));
            enclosure.setType(&entry == &entries.last() ? FeedEnclosure::Optional : FeedEnclosure::Essential);
            enclosures.append(enclosure);
        }
        return enclosures;
    }

    void fetch(const FeedChannel& channel)
    {
        if (channel.link().startsWith("wait") || hangsThisTime(channel))
            return;
        if (kind().startsWith("fail-")) {
            stop(kind().mid(5).toInt());
            return;
        }
        for (qint64 received = 1; received <= 3; ++received)
            emit enclosureDownloadProgress(received, 3);
        finishFeed();
    }

    // A mark beside the communication file outlives the process that the daemon restarts.
    bool hangsThisTime(const FeedChannel& channel) const
    {
        if (kind() != "hang-once")
            return false;
        QFile mark(QCoreApplication::arguments().value(1) + '.' + channel.link().section(':', 1));
        return mark.open(QIODevice::NewOnly);
    }

    void finishFeed()
    {
        _waiting = Idle;
        _previousJob = _application->jobSequence();
        emit downloadFeedsFinished();
    }

    void startEnclosure(const FeedEnclosure& enclosure, const QString& how)
    {
        _waiting = WaitingEnclosure;
        _enclosureKind = enclosure.remoteUrl().section(':', 0, 0);
        if (_enclosureKind == "wait" || _enclosureKind == "late")
            return;
        if (_enclosureKind == "once" && !_askedOnce.contains(enclosure.remoteUrl())) {
            _askedOnce.insert(enclosure.remoteUrl());
            return;
        }
        if (_enclosureKind == "203" || _enclosureKind.startsWith("fail-")) {
            stop(_enclosureKind == "203" ? 203 : _enclosureKind.mid(5).toInt());
            return;
        }
        if (how == "new")
            emit enclosureDownloadProgress(5, 10);
        finishEnclosure(enclosure, how);
    }

    void stopEnclosureOr(int code)
    {
        if (_waiting != WaitingEnclosure || _enclosureKind != "late") {
            stop(code);
            return;
        }
        if (_lateStop)
            return;
        _lateStop = true;
        QTimer::singleShot(200, this, [this] { stop(203); });
    }

    void finishEnclosure(const FeedEnclosure& enclosure, const QString& how)
    {
        _waiting = Idle;
        emit downloadEnclosureFinished({{"mimeType", how}, {"length", enclosure.localUrl()}});
    }

    void stop(int code)
    {
        const Waiting waiting = _waiting;
        _waiting = Idle;
        _lateStop = false;
        if (waiting == WaitingFeed)
            emit downloadFeedsFailed(code);
        else if (waiting == WaitingEnclosure)
            emit downloadEnclosureFailed(code);
    }

    // Dies while the daemon waits for an answer. On a slow machine the request may already
    // sit in the application's buffer; then the moment's wait ends inside the daemon's wait.
    static void dieAtNextRequest()
    {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        ::poll(&input, 1, 1000);
        ::_exit(3);
    }

    // The daemon sends the next request only after giving up on this one, so the answer
    // lands in the file it truncated for the next. The next request stays unread in the
    // pipe (or the application's buffer already holds it, when both came in one read).
    static void awaitNextRequest()
    {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        while (::poll(&input, 1, -1) < 0 && errno == EINTR) {
        }
    }

    FeedMethod failure(int code, quint32 sequence) const
    {
        FeedMethod record("downloadFeedsFailed", sequence);
        record.addArgument(FeedArgument::fromValue(code));
        return record;
    }

    void writeSplitRecord()
    {
        const QByteArray bytes = FeedMethod::toByteArray(failure(404, _application->jobSequence()));
        const int half = bytes.size() / 2;
        _application->writeOutput(bytes.left(half));
        QTimer::singleShot(200, this, [this, bytes, half]() { _application->writeOutput(bytes.mid(half)); });
    }

    void writeHostileRecord()
    {
        QByteArray map;
        QDataStream(&map, QIODevice::WriteOnly)
            << quint32(1) << QString("length") << quint32(QMetaType::QVariantList) << qint8(0) << quint32(0x7fffffff);
        FeedMethod record("downloadEnclosureFinished", _application->jobSequence());
        record.addArgument(FeedArgument("QVariantMap", map));
        _application->writeOutput(FeedMethod::toByteArray(record));
    }

    void writeUnknownRecords()
    {
        const quint32 job = _application->jobSequence();
        FeedMethod exited("pluginExited", job);
        exited.addArgument(FeedArgument::fromValue(QStringLiteral("unknown")));
        FeedMethod wrongType("downloadFeedsFailed", job);
        wrongType.addArgument(FeedArgument::fromValue(QStringLiteral("404")));
        FeedMethod undecodable("downloadFeedsFailed", job);
        undecodable.addArgument(FeedArgument("int", "x"));
        for (const FeedMethod& record : {FeedMethod("deleteLater", job), FeedMethod("unloadPlugins", job),
                                         exited, wrongType, undecodable, FeedMethod("", job)})
            _application->writeOutput(FeedMethod::toByteArray(record));
    }

    const QString _scenario;
    FeedPluginApplication* _application = nullptr;
    FeedChannel _request;
    FeedChannel _channel;
    Waiting _waiting = Idle;
    QString _enclosureKind;
    QSet<QString> _askedOnce;
    bool _lateStop = false;
    int _channelCalls = 0;
    quint32 _previousJob = 0;
};

int main(int argc, char** argv)
{
    const QString scenario = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toLower();
    if (scenario == "mute") {
        char buffer[4096];
        while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
        }
        return 0;
    }
    if (scenario == "stubborn")
        std::signal(SIGTERM, SIG_IGN);
    FakePlugin plugin(scenario);
    FeedPluginApplication application(&plugin, argc, argv);
    plugin.setApplication(&application);
    if (scenario == "wrongversion")
        application.setInterfaceVersion(QStringLiteral("0.2"));
    return application.exec();
}

#include "fakeplugin.moc"

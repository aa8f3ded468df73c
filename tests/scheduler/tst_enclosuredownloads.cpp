#include "feedenclosurelist.h"
#include "feedenclosuretask.h"
#include "feedpluginmanager.h"
#include "feedqueuemanager.h"
#include "feedtaskmanager.h"
#include "feedtrackersparql.h"
#include "storeendpoint.h"
#include "testenvironment.h"
#include "virelon.h"
#include "virelonpaths.h"

#include <QSettings>
#include <QSignalSpy>

#include <memory>

namespace {

// Enclosures of a row are written "E1 ok part": name, the scheme of the remote URL that tells
// the fake plug-in what to do ("ok", "wait", "late", "203", "fail-402"), and the files there
// before ("part", "final"). "essential" makes it an essential enclosure, "stored" gives it a
// record in the store under channel A while the requests carry no URI, as a fetched channel's do.
//
// Actions: "manual A E1 E2", "essential A E1", "optional A E1" (the list form at priority 2, 3,
// 1), "uncounted A E1" (essential downloads of a refresh that failed), "resume A E1" (the one-enclosure form), "cancel A E1", "pause A E1" (the one-enclosure cancel
// forms), "listCancel A E1", "cacheCancel E1 E2", "pauseScheduler", "resumeScheduler",
// "pauseEnclosures", "resumeEnclosures", "userPause", "fetch B" (a feed that runs until
// "cancelChannel B"), "deleteChannel A" (from the store only, as the tool does), "storeDown" (the
// store stops answering until the row ends), "mark" (an event of its own, for order), "stray"
// (results no download asked for), "answered" (what the plug-in said so far has been heard),
// "pending E1" (queuedOptionalEnclosures() names E1 and no more).
//
// Events are the scheduler's signals: "started E1", "downloaded E1", "failed E1 402" ("?" for an
// empty channel URI), "completed A", "state 2", "error E1 400", and of feeds "fetched B",
// "failed B 201".

QtMessageHandler previousHandler = nullptr;
int pluginCalls = 0;

void countPluginCalls(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String(", resuming:")))
        ++pluginCalls;
    previousHandler(type, context, message);
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class tst_EnclosureDownloads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void downloads_data();
    void downloads();
    void refusedTargets_data();
    void refusedTargets();
    void storedSizes_data();
    void storedSizes();
    void everyAnnouncedStartEnds();
    void emptyUrisStayOffTheBus();

private:
    void addEnclosures(const QString& list);
    void act(const QString& action);
    QList<FeedEnclosure> enclosures(const QStringList& names) const;
    QString nameOf(const QString& uri) const { return _names.value(uri, uri.isEmpty() ? "?" : uri); }
    QString files(const QString& name) const;
    void record(const QString& event) { _events.append(event); }
    void recordSignals();

    QTemporaryDir _dir;
    QProcess _bus;
    std::unique_ptr<StoreEndpoint> _endpoint;
    FeedTaskManager* _scheduler = nullptr;
    FeedPluginManager* _plugins = nullptr;
    QHash<QString, QString> _channels;
    QHash<QString, FeedEnclosure> _enclosures;
    QHash<QString, QString> _names; // URI to name
    QStringList _events;
    bool _asleep = true;
    int _row = 0;
};

void tst_EnclosureDownloads::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    QVERIFY(_dir.isValid());
    QVERIFY(StoreEndpoint::startBus(&_bus, QStringLiteral(PRIVATE_BUS_CONFIG)));
    _endpoint.reset(new StoreEndpoint(_dir.filePath(QStringLiteral("store"))));
    QVERIFY(_endpoint->start());
    const QString plugins = _dir.filePath(QStringLiteral("plugins"));
    QVERIFY(QDir().mkpath(plugins));
    for (const char* name : {"good", "tamsil"})
        QVERIFY(QFile::link(QStringLiteral(FAKE_PLUGIN), plugins + '/' + name));
    qputenv("VIRELON_PLUGIN_DIR", QFile::encodeName(plugins));
    qputenv("VIRELON_COMM_DIR", QFile::encodeName(_dir.path()));
    qputenv("VIRELON_CONFIG_DIR", QFile::encodeName(_dir.filePath(QStringLiteral("etc/virelon"))));
    previousHandler = qInstallMessageHandler(countPluginCalls);

    QVERIFY(Virelon::instance()->start());
    _plugins = FeedPluginManager::instance();
    _plugins->setLimits({5000, 5000, 30000, 500});
    _scheduler = FeedTaskManager::instance();
    recordSignals();
}

void tst_EnclosureDownloads::cleanupTestCase()
{
    FeedTaskManager::releaseInstance();
    FeedPluginManager::releaseInstance();
    FeedTrackerSparql::releaseInstance();
    _endpoint.reset();
    _bus.terminate();
    _bus.waitForFinished();
}

void tst_EnclosureDownloads::init()
{
    ++_row;
    _enclosures.clear();
    _names.clear();
    _events.clear();
    _channels.clear();
    for (const char* name : {"A", "B"}) {
        FeedChannel channel;
        channel.setType(QStringLiteral("good"));
        channel.setLink(QStringLiteral("%1:%2-%3").arg(name == QLatin1String("B") ? "wait" : "ok").arg(_row).arg(name));
        const QString uri = FeedTrackerSparql::instance()->addChannel(channel);
        QVERIFY(!uri.isEmpty());
        _channels.insert(name, uri);
        _names.insert(uri, name);
    }
}

// Whatever still runs or waits is cancelled, and nothing is left running: a cancelled download
// is no longer listed, but the scheduler sleeps only once its plug-in has answered.
void tst_EnclosureDownloads::cleanup()
{
    _scheduler->resume();
    _scheduler->resumeEnclosures(false);
    _scheduler->resumeEnclosures(true);
    _scheduler->cancelAll();
    QTRY_VERIFY_WITH_TIMEOUT(_asleep && _scheduler->queuedFeeds().isEmpty()
                                 && FeedQueueManager::instance()->isEmpty(FeedTask::AnyTaskType, FeedTask::AnyPriority),
                             StoreEndpoint::timeoutMs());
    if (!_endpoint->processId())
        QVERIFY(_endpoint->start());
}

void tst_EnclosureDownloads::recordSignals()
{
    FeedTaskManager* s = _scheduler;
    connect(s, &FeedTaskManager::awake, this, [this] { _asleep = false; });
    connect(s, &FeedTaskManager::sleep, this, [this] { _asleep = true; });
    connect(s, qOverload<const FeedChannel&, const FeedEnclosure&>(&FeedTaskManager::enclosureDownloadStarted), this,
            [this](const FeedChannel&, const FeedEnclosure& e) { record("started " + nameOf(e.uri())); });
    connect(s, qOverload<const QString&, const FeedEnclosure&, qlonglong>(&FeedTaskManager::enclosureDownloaded), this,
            [this](const QString&, const FeedEnclosure& e) { record("downloaded " + nameOf(e.uri())); });
    connect(s, qOverload<const QString&, const FeedEnclosure&, int, qlonglong>(&FeedTaskManager::enclosureDownloadFailed),
            this, [this](const QString& channel, const FeedEnclosure& e, int code) {
                record(QStringLiteral("failed %1%2 %3").arg(channel.isEmpty() ? "?" : "", nameOf(e.uri())).arg(code));
            });
    connect(s, &FeedTaskManager::enclosureDownloadError, this, [this](const QStringList& uris, int code) {
        QStringList names;
        for (const QString& uri : uris)
            names << nameOf(uri);
        record(QStringLiteral("error %1 %2").arg(names.join(' ')).arg(code));
    });
    connect(s, &FeedTaskManager::refreshCompleted, this, [this](const QString& uri) { record("completed " + nameOf(uri)); });
    connect(s, &FeedTaskManager::refreshState, this, [this](int state) { record(QStringLiteral("state %1").arg(state)); });
    connect(s, &FeedTaskManager::feedDownloadStarted, this, [this](const QString& uri) { record("fetched " + nameOf(uri)); });
    connect(s, qOverload<const QString&, int>(&FeedTaskManager::feedsDownloadFailed), this,
            [this](const QString& uri, int code) { record(QStringLiteral("failed %1 %2").arg(nameOf(uri)).arg(code)); });
}

void tst_EnclosureDownloads::addEnclosures(const QString& list)
{
    QList<FeedEnclosure> stored;
    for (const QString& entry : list.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        const QStringList words = entry.split(' ');
        const QString name = words.at(0);
        FeedEnclosure enclosure;
        enclosure.setRemoteUrl(QStringLiteral("%1:%2-%3").arg(words.at(1)).arg(_row).arg(name));
        enclosure.setLocalUrl(QStringLiteral("%1/%2-%3.bin").arg(VirelonPaths::enclosureDir()).arg(_row).arg(name));
        enclosure.setType(words.contains("essential") ? FeedEnclosure::Essential : FeedEnclosure::Optional);
        if (words.contains("noremote"))
            enclosure.setRemoteUrl(QString());
        if (words.contains("nowhere"))
            enclosure.setLocalUrl(QString());
        if (words.contains("part"))
            QVERIFY(writeFile(enclosure.localUrl() + ".part", "part"));
        if (words.contains("final"))
            QVERIFY(writeFile(enclosure.localUrl(), "final"));
        if (words.contains("stored"))
            stored << enclosure;
        else
            enclosure.setUri(QStringLiteral("urn:test:%1-%2").arg(_row).arg(name));
        _enclosures.insert(name, enclosure);
        if (!enclosure.uri().isEmpty())
            _names.insert(enclosure.uri(), name);
    }
    if (stored.isEmpty())
        return;
    FeedMessage message;
    message.setLink(QStringLiteral("http://127.0.0.1/message/%1").arg(_row));
    message.setEnclosures(stored);
    QVERIFY(FeedTrackerSparql::instance()->addMessages({message}, _channels.value("A")));
    QStringList remotes;
    for (const FeedEnclosure& enclosure : stored)
        remotes << enclosure.remoteUrl();
    const QHash<QString, QString> uris = FeedTrackerSparql::instance()->enclosureUrisForRemoteUrls(remotes);
    QCOMPARE(uris.size(), stored.size());
    for (auto it = _enclosures.cbegin(); it != _enclosures.cend(); ++it) {
        if (uris.contains(it.value().remoteUrl()))
            _names.insert(uris.value(it.value().remoteUrl()), it.key());
    }
}

QList<FeedEnclosure> tst_EnclosureDownloads::enclosures(const QStringList& names) const
{
    QList<FeedEnclosure> found;
    for (const QString& name : names)
        found << _enclosures.value(name);
    return found;
}

void tst_EnclosureDownloads::act(const QString& action)
{
    const QStringList words = action.split(' ');
    const QString& verb = words.first();
    const QString channel = _channels.value(words.value(1));
    const QList<FeedEnclosure> list = enclosures(words.mid(verb == "cacheCancel" ? 1 : 2));
    if (verb == "manual")
        _scheduler->downloadEnclosure(channel, list, FeedTask::ManualEnclosurePriority);
    else if (verb == "essential")
        _scheduler->downloadEnclosure(channel, list, FeedTask::EssentialEnclosurePriority);
    else if (verb == "optional")
        _scheduler->downloadEnclosure(channel, list, FeedTask::OptionalEnclosurePriority);
    else if (verb == "uncounted")
        _scheduler->downloadUncountedEnclosures(channel, list);
    else if (verb == "resume")
        _scheduler->downloadEnclosure(channel, list.value(0));
    else if (verb == "cancel" || verb == "pause")
        _scheduler->cancelDownloadEnclosure(channel, list.value(0), verb == "pause");
    else if (verb == "listCancel")
        _scheduler->cancelDownloadEnclosure(channel, list, false);
    else if (verb == "cacheCancel")
        _scheduler->cancelDownloadEnclosure(list);
    else if (verb == "pauseScheduler")
        _scheduler->pause();
    else if (verb == "resumeScheduler")
        _scheduler->resume();
    else if (verb == "pauseEnclosures")
        _scheduler->pauseEnclosures(false);
    else if (verb == "resumeEnclosures")
        _scheduler->resumeEnclosures(false);
    else if (verb == "userPause")
        _scheduler->pauseEnclosures(true);
    else if (verb == "fetch")
        _scheduler->refresh({channel});
    else if (verb == "cancelChannel")
        _scheduler->cancel(channel);
    else if (verb == "pending")
        QCOMPARE(_scheduler->queuedOptionalEnclosures(), FeedEnclosureList::uris(enclosures(words.mid(1))));
    else if (verb == "deleteChannel")
        FeedTrackerSparql::instance()->deleteChannel(channel);
    else if (verb == "storeDown")
        _endpoint->stop();
    else if (verb == "mark")
        record(verb);
    else if (verb == "answered") {
        // The plug-in answers requests in order: whatever it said before this one is now heard.
        _plugins->isBusy();
        QCoreApplication::processEvents();
    } else if (verb == "stray") {
        emit _plugins->downloadEnclosureFinished(QVariantMap());
        emit _plugins->downloadEnclosureFailed(203);
    } else
        QFAIL(qPrintable("unknown action " + action));
}

// "final", "part", "final part" or "-": the enclosure's files now.
QString tst_EnclosureDownloads::files(const QString& name) const
{
    const QString path = _enclosures.value(name).localUrl();
    QStringList found;
    if (QFile::exists(path))
        found << "final";
    if (QFile::exists(path + ".part"))
        found << "part";
    return found.isEmpty() ? "-" : found.join(' ');
}

void tst_EnclosureDownloads::downloads_data()
{
    QTest::addColumn<QString>("enclosures");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("files"); // of E1, E2, ... after the events

    QTest::newRow("a manual download ends")
        << "E1 ok part" << QStringList{"manual A E1"} << QStringList{"started E1", "downloaded E1", "state 2"}
        << QStringList{"final"};
    // Fault guarded: a download the plug-in called done without a file counted as downloaded.
    QTest::newRow("done, but no file to make final: 407")
        << "E1 ok" << QStringList{"manual A E1"} << QStringList{"started E1", "state 2", "failed E1 407"}
        << QStringList{"-"};
    QTest::newRow("there already: downloaded without the plug-in")
        << "E1 wait final" << QStringList{"manual A E1"} << QStringList{"started E1", "downloaded E1", "state 2"}
        << QStringList{"final"};
    // Fault guarded: a failed automatic download was never reported, although its start was.
    QTest::newRow("an optional download fails: reported")
        << "E1 fail-402 part" << QStringList{"optional A E1"} << QStringList{"started E1", "failed E1 402"}
        << QStringList{"-"};
    // Fault guarded: an enclosure of a fetched channel was reported without its URI.
    QTest::newRow("a fetched channel's enclosure is reported by its stored URI")
        << "E1 fail-402 stored" << QStringList{"optional A E1"} << QStringList{"started E1", "failed E1 402"}
        << QStringList{"-"};

    // Fault guarded: the count rose by tasks the queue never took, and fell by enclosure type.
    QTest::newRow("three essentials, every end counts, one completion")
        << "E1 ok part, E2 fail-402 part, E3 wait final essential" << QStringList{"essential A E1 E2 E3"}
        << QStringList{"downloaded E1", "completed A", "downloaded E3"} << QStringList{"final", "-", "final"};
    QTest::newRow("a refused target and a file not made final end their counts too")
        << "E1 ok part, E2 ok, E3 ok nowhere" << QStringList{"essential A E1 E2 E3"}
        << QStringList{"downloaded E1", "completed A"} << QStringList{"final", "-"};
    QTest::newRow("the same enclosure twice in one list counts once")
        << "E1 ok part, E2 ok part" << QStringList{"essential A E1 E1 E2"}
        << QStringList{"downloaded E1", "completed A", "downloaded E2"} << QStringList{"final", "final"};
    QTest::newRow("a repeated refresh while its downloads wait: one completion")
        << "E1 ok part, E2 ok part"
        << QStringList{"fetch B", "essential A E1 E2", "essential A E1 E2", "cancelChannel B"}
        << QStringList{"fetched B", "failed B 201", "downloaded E1", "completed A", "downloaded E2"}
        << QStringList{"final", "final"};
    QTest::newRow("nothing the queue takes: complete at once")
        << "E1 ok noremote" << QStringList{"essential A E1"} << QStringList{"completed A"} << QStringList{};
    QTest::newRow("essential downloads taken out unrun end the count")
        << "E1 ok, E2 ok" << QStringList{"fetch B", "essential A E1 E2", "cacheCancel E1 E2", "cancelChannel B"}
        << QStringList{"fetched B", "failed ?E1 201", "failed ?E2 201", "completed A", "failed B 201"}
        << QStringList{"-", "-"};
    // Fault guarded: the downloads of a channel deleted meanwhile completed its refresh.
    QTest::newRow("a deleted channel's downloads complete nothing")
        << "E1 ok, E2 ok" << QStringList{"fetch B", "essential A E1 E2", "deleteChannel A", "cancelChannel B"}
        << QStringList{"fetched B", "failed B 201"} << QStringList{};
    QTest::newRow("a cancelled channel's downloads complete nothing")
        << "E1 ok part" << QStringList{"fetch B", "essential A E1", "cancelChannel A", "cancelChannel B"}
        << QStringList{"fetched B", "failed A 201", "failed B 201"} << QStringList{"part"};
    // Fault guarded: the downloads of a failed refresh that still waited counted down the next one,
    // and a refresh whose image already waited for none completed before it.
    QTest::newRow("a failed refresh's downloads count down no later one")
        << "E1 ok part, E2 ok part" << QStringList{"fetch B", "uncounted A E1", "essential A E2", "cancelChannel B"}
        << QStringList{"fetched B", "failed B 201", "downloaded E1", "completed A", "downloaded E2"}
        << QStringList{"final", "final"};
    QTest::newRow("a refresh waits for its image that waits already")
        << "E1 ok part" << QStringList{"fetch B", "uncounted A E1", "essential A E1", "cancelChannel B"}
        << QStringList{"fetched B", "failed B 201", "completed A", "downloaded E1"} << QStringList{"final"};
    QTest::newRow("a refresh waits for its image that runs already")
        << "E1 wait part" << QStringList{"uncounted A E1", "essential A E1", "mark", "cancel A E1"}
        << QStringList{"mark", "completed A"} << QStringList{"-"};
    // Fault guarded: a channel the store could not read was taken for deleted, and its refresh
    // ended without a word.
    QTest::newRow("the channel not read: its refresh ends with 202")
        << "E1 ok part, E2 ok part" << QStringList{"fetch B", "essential A E1 E2", "storeDown", "cancelChannel B"}
        << QStringList{"fetched B", "failed B 201", "failed A 202"} << QStringList{"part", "part"};
    QTest::newRow("the channel not read: a manual download ends with 202")
        << "E1 ok part" << QStringList{"fetch B", "manual A E1", "storeDown", "cancelChannel B"}
        << QStringList{"fetched B", "failed B 201", "state 2", "failed E1 202"} << QStringList{"part"};

    // Fault guarded: results and pauses meant for an enclosure ended or stopped a feed fetch.
    QTest::newRow("a feed fetch is no enclosure download")
        << "" << QStringList{"fetch B", "stray", "pauseEnclosures", "resumeEnclosures", "answered", "cancelChannel B"}
        << QStringList{"fetched B", "failed B 201"} << QStringList{};

    // Fault guarded: how a stopped download ended was decided by the flags when the plug-in
    // answered, so a resume before the answer lost the ".part" and a pause re-queued a cancel.
    QTest::newRow("paused by the scheduler, resumed before the answer: runs again")
        << "E1 once part" << QStringList{"manual A E1", "pauseScheduler", "resumeScheduler"}
        << QStringList{"started E1", "started E1", "downloaded E1", "state 2"} << QStringList{"final"};
    QTest::newRow("paused by the device: runs again when it is back")
        << "E1 once part" << QStringList{"manual A E1", "pauseEnclosures", "resumeEnclosures"}
        << QStringList{"started E1", "started E1", "downloaded E1", "state 2"} << QStringList{"final"};
    QTest::newRow("paused by the user: ends, the part stays")
        << "E1 wait part" << QStringList{"manual A E1", "pause A E1"}
        << QStringList{"started E1", "state 2", "failed E1 203"} << QStringList{"part"};
    QTest::newRow("all paused by the user: ends, the part stays")
        << "E1 wait part" << QStringList{"optional A E1", "userPause"}
        << QStringList{"started E1", "failed E1 203"} << QStringList{"part"};
    QTest::newRow("paused by the plug-in itself: ends, the part stays")
        << "E1 203 part" << QStringList{"manual A E1"} << QStringList{"started E1", "state 2", "failed E1 203"}
        << QStringList{"part"};
    QTest::newRow("cancelled, answered as paused while the scheduler pauses: gone")
        << "E1 late part" << QStringList{"manual A E1", "pauseScheduler", "cancel A E1"}
        << QStringList{"started E1", "state 2", "failed E1 201"} << QStringList{"-"};
    QTest::newRow("cancelled while running") << "E1 wait part" << QStringList{"manual A E1", "cancel A E1"}
                                             << QStringList{"started E1", "state 2", "failed E1 201"}
                                             << QStringList{"-"};
    // Fault guarded: a download cancelled while running was pending until the plug-in answered.
    QTest::newRow("cancelled while running: no longer pending")
        << "E1 wait" << QStringList{"manual A E1", "pending E1", "cancel A E1", "pending"}
        << QStringList{"started E1", "state 2", "failed E1 201"} << QStringList{};
    QTest::newRow("a second request while it runs is skipped")
        << "E1 wait part" << QStringList{"manual A E1", "resume A E1", "cancel A E1"}
        << QStringList{"started E1", "state 2", "failed E1 201"} << QStringList{"-"};

    // Fault guarded: while paused a cancel of a waiting download was reported twice, and a pause
    // of it deleted its ".part".
    QTest::newRow("cancel of a waiting download while paused: once, the part goes")
        << "E1 ok part" << QStringList{"pauseScheduler", "manual A E1", "cancel A E1", "resumeScheduler"}
        << QStringList{"failed E1 201"} << QStringList{"-"};
    QTest::newRow("pause of a waiting download while paused: once, the part stays")
        << "E1 ok part" << QStringList{"pauseScheduler", "manual A E1", "pause A E1", "resumeScheduler"}
        << QStringList{"failed E1 201"} << QStringList{"part"};
    QTest::newRow("the list cancel of one channel") << "E1 wait part, E2 ok part"
                                                    << QStringList{"optional A E1 E2", "listCancel A E1 E2"}
                                                    << QStringList{"started E1", "failed E1 201"}
                                                    << QStringList{"-", "part"};
}

void tst_EnclosureDownloads::downloads()
{
    QFETCH(QString, enclosures);
    QFETCH(QStringList, actions);
    QFETCH(QStringList, events);
    QFETCH(QStringList, files);
    addEnclosures(enclosures);
    for (const QString& action : actions)
        act(action);
    QTRY_COMPARE_WITH_TIMEOUT(_events, events, StoreEndpoint::timeoutMs());
    for (int i = 0; i < files.size(); ++i)
        QCOMPARE(this->files(QStringLiteral("E%1").arg(i + 1)), files.at(i));
}

void tst_EnclosureDownloads::refusedTargets_data()
{
    QTest::addColumn<QString>("path"); // "~" stands for the enclosure folder, "^" for one outside
    QTest::addColumn<QString>("link"); // made a link to a file outside before the request
    const QString longName = QString(251, QLatin1Char('n'));
    QTest::newRow("empty") << "" << "";
    QTest::newRow("relative") << "enclosures/a.bin" << "";
    QTest::newRow("a step up") << "~/../../a.bin" << "";
    QTest::newRow("a step up that comes back") << "~/../enclosures/a.bin" << "";
    QTest::newRow("outside") << "^/a.bin" << "";
    QTest::newRow("a file URL") << "file://~/a.bin" << "";
    QTest::newRow("a linked final file") << "~/a.bin" << "~/a.bin";
    QTest::newRow("a linked part") << "~/a.bin" << "~/a.bin.part";
    QTest::newRow("a linked folder") << "~/folder/a.bin" << "~/folder";
    QTest::newRow("no room for the part's name") << "~/" + longName << "";
}

// Fault guarded: any local path of a record or a feed was written, renamed and deleted.
void tst_EnclosureDownloads::refusedTargets()
{
    QFETCH(QString, path);
    QFETCH(QString, link);
    const QString outside = _dir.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(outside));
    QVERIFY(writeFile(outside + "/a.bin", "kept"));
    QVERIFY(writeFile(outside + "/a.bin.part", "kept"));
    const QString inside = VirelonPaths::enclosureDir();
    auto expand = [&](QString text) { return text.replace('~', inside).replace('^', outside); };
    if (!link.isEmpty())
        QVERIFY(QFile::link(link.endsWith("folder") ? outside : outside + "/a.bin", expand(link)));
    addEnclosures(QStringLiteral("E1 ok"));
    _enclosures["E1"].setLocalUrl(expand(path));
    const int callsBefore = pluginCalls;
    act(QStringLiteral("manual A E1"));
    QTRY_COMPARE_WITH_TIMEOUT(_events, QStringList({"started E1", "state 2", "failed E1 202"}), StoreEndpoint::timeoutMs());
    QCOMPARE(pluginCalls, callsBefore);
    for (const char* name : {"/a.bin", "/a.bin.part"}) {
        QFile file(outside + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("kept"));
    }
    QFile::remove(expand(link));
}

void tst_EnclosureDownloads::storedSizes_data()
{
    QTest::addColumn<qlonglong>("total");
    QTest::addColumn<uint>("stored");
    QTest::newRow("known") << qlonglong(2097152) << 2097152u;
    QTest::newRow("the largest a record holds") << qlonglong(4294967295) << 4294967295u;
    // Fault guarded: an unknown total (-1) was stored as 4294967295, a larger one cut short.
    QTest::newRow("unknown") << qlonglong(-1) << 77u;
    QTest::newRow("none") << qlonglong(0) << 77u;
    QTest::newRow("larger than a record holds") << qlonglong(5) * 1024 * 1024 * 1024 << 77u;
}

// The service writes a download's size into its record once, from a report that knows it.
void tst_EnclosureDownloads::storedSizes()
{
    QFETCH(qlonglong, total);
    QFETCH(uint, stored);
    addEnclosures(QStringLiteral("E1 ok stored"));
    const QString uri = _names.key(QStringLiteral("E1"));
    FeedEnclosure enclosure = FeedTrackerSparql::instance()->enclosureForUri(uri);
    enclosure.setLength(77);
    QVERIFY(FeedTrackerSparql::instance()->updateEnclosure(enclosure));
    QSignalSpy progress(Virelon::instance(),
                        qOverload<const QString&, qlonglong, qlonglong, qlonglong>(&Virelon::enclosureDownloadProgress));
    enclosure.setLength(static_cast<unsigned int>(total));
    emit _scheduler->enclosureDownloadProgress(enclosure, total, 5, 0);
    QCOMPARE(progress.size(), 1);
    QCOMPARE(progress.at(0), QVariantList({uri, total, qlonglong(5), qlonglong(0)}));
    QCOMPARE(FeedTrackerSparql::instance()->enclosureForUri(uri).length(), stored);
}

// Fault guarded: the service reported the end of a download only for optional enclosures, so a
// manual download of an essential one started on the bus and never ended there.
void tst_EnclosureDownloads::everyAnnouncedStartEnds()
{
    addEnclosures(QStringLiteral("E1 ok part essential, E2 ok part essential"));
    QSignalSpy started(Virelon::instance(), qOverload<const QString&>(&Virelon::enclosureDownloadStarted));
    QSignalSpy completed(Virelon::instance(), &Virelon::enclosureDownloadCompleted);
    act(QStringLiteral("manual A E1"));
    act(QStringLiteral("essential A E2"));
    QTRY_COMPARE_WITH_TIMEOUT(_events, QStringList({"started E1", "downloaded E1", "state 2", "completed A", "downloaded E2"}),
                              StoreEndpoint::timeoutMs());
    QCOMPARE(started.size(), 1);
    QCOMPARE(completed.size(), 1);
    QCOMPARE(completed.at(0).at(0).toString(), _enclosures.value("E1").uri());
}

// Fault guarded: an enclosure without a URI went out on the bus as "" and into the error store
// under an empty key.
void tst_EnclosureDownloads::emptyUrisStayOffTheBus()
{
    QSignalSpy errors(Virelon::instance(), &Virelon::enclosureDownloadError);
    QSignalSpy progress(Virelon::instance(),
                        qOverload<const QString&, qlonglong, qlonglong, qlonglong>(&Virelon::enclosureDownloadProgress));
    FeedEnclosure anonymous;
    anonymous.setRemoteUrl(QStringLiteral("http://127.0.0.1/anonymous.bin"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Enclosure without a URI"));
    emit _scheduler->enclosureDownloadFailed(_channels.value("A"), anonymous, 402, 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Enclosure without a URI"));
    emit _scheduler->enclosureDownloadProgress(anonymous, 10, 5, 0);
    QCOMPARE(errors.size(), 0);
    QCOMPARE(progress.size(), 0);
    QVERIFY(!QSettings(QStringLiteral("virelon"), QStringLiteral("enclosureErrors")).allKeys().contains(QString()));
}

VIRELON_TEST_MAIN(tst_EnclosureDownloads)
#include "tst_enclosuredownloads.moc"

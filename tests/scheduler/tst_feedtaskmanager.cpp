#include "feedpluginmanager.h"
#include "feedsettingsmanager.h"
#include "feedtaskmanager.h"
#include "feedtrackersparql.h"
#include "storeendpoint.h"
#include "testenvironment.h"
#include "virelon.h"
#include "virelonpaths.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

namespace {

// Channels of a row are written "A good ok": name, plug-in (a program in the test's plug-in
// folder, or none there), and the scheme of the feed link, which tells the fake plug-in what
// to do ("ok", "wait", "wait-finish", "fail-304", "other-uri", "with-message",
// "with-enclosures"). A channel of plug-in "missing" is not stored. The fake plug-in also
// stands in for tamsil, which downloads enclosures.
//
// Actions are "subscribe A B", "refresh A", "auto A", "cancel A", "cancelRefresh A B",
// "unsubscribe A", "cancelAll", "onlywifi", "stray" (a feed result that no task asked for),
// "delete A" (the channel leaves the store, not through the daemon) and "edit A ok" (the
// service changes the channel's link to one of that scheme).
//
// Events are the scheduler's signals, in order: "awake", "sleep", "queued A B", "started A",
// "downloaded A", "failed A 201", "unsubscribed A", "completed A". The service object hears the
// scheduler first: a refresh it completes while storing a feed comes before "downloaded".

const QStringList FakePlugins = {"good", "crash", "hang", "stubborn", "tamsil"};

// The channel error store, as the service keeps it.
QVariant errorEntry(const QString& uri)
{
    return QSettings(QStringLiteral("virelon"), QStringLiteral("errors"))
        .value(Virelon::instance()->escapeSettingsKey(uri));
}

void setErrorEntry(const QString& uri, int code)
{
    QSettings(QStringLiteral("virelon"), QStringLiteral("errors"))
        .setValue(Virelon::instance()->escapeSettingsKey(uri), code);
}

enum class Refusal { None, Updates, All };

QtMessageHandler previousHandler = nullptr;
// While quiet, messages go nowhere; the stack depth of each task's end is measured instead.
bool quiet = false;
quintptr deepest = ~quintptr(0);
quintptr shallowest = 0;
// A call back into the scheduler from inside its construction, and what it got.
bool callBackDuringConstruction = false;
int nestedCalls = 0;
FeedTaskManager* nestedResult = reinterpret_cast<FeedTaskManager*>(1);

void testHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (callBackDuringConstruction && message.contains(QLatin1String("Successfully created directory"))) {
        callBackDuringConstruction = false;
        ++nestedCalls;
        nestedResult = FeedTaskManager::instance();
    }
    if (!quiet) {
        previousHandler(type, context, message);
    } else if (message.contains(QLatin1String("No channels are in the list"))) {
        const char marker = 0;
        deepest = qMin(deepest, quintptr(&marker));
        shallowest = qMax(shallowest, quintptr(&marker));
    }
}

} // namespace

class tst_FeedTaskManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void loop_data();
    void loop();
    void requests_data();
    void requests();
    void crashingPluginIsGivenUp();
    void unsubscribedDuringFetch_data();
    void unsubscribedDuringFetch();
    void lateExitOfAStoppedPlugin_data();
    void lateExitOfAStoppedPlugin();
    void handBackWhileReporting();
    void busyPluginIsTriedAgain();
    void eachTaskHangsOnceAndStillRuns();
    void channelDeletedDuringFetch();
    void refusedWritesEndTheRefresh_data();
    void refusedWritesEndTheRefresh();
    void notModifiedTimes_data();
    void notModifiedTimes();
    void changedAfterRead_data();
    void changedAfterRead();
    void unreachableStore();

private:
    void addChannels(const QString& list);
    QString uriOf(const QString& name) const { return _uris.value(name); }
    QString nameOf(const QString& uri) const { return _uris.key(uri, uri); }
    QString names(const QStringList& uris) const;
    QStringList uris(const QStringList& names) const;
    void act(const QString& action);
    // A link edit as the service makes it, to a link only the fake plug-in fetches.
    void editLink(const QString& channel, const QString& link);
    void record(const QString& event) { _events.append(event); }
    void recordSignals();
    void waitUntilIdle();
    bool setRefusal(Refusal refusal);

    QTemporaryDir _dir;
    QProcess _bus;
    std::unique_ptr<StoreEndpoint> _endpoint;
    FeedTaskManager* _scheduler = nullptr;
    FeedPluginManager* _plugins = nullptr;
    QHash<QString, QString> _uris;
    QStringList _events;
    int _row = 0;
};

bool tst_FeedTaskManager::setRefusal(Refusal refusal)
{
    const QString service = _endpoint ? _endpoint->serviceName() : QString();
    const QString rules[] = {
        QString(),
        QStringLiteral("<deny send_destination=\"%1\" send_interface=\"org.freedesktop.Tracker3.Endpoint\"/>"
                       "<allow send_destination=\"%1\" send_interface=\"org.freedesktop.Tracker3.Endpoint\" "
                       "send_member=\"Query\"/>")
            .arg(service),
        QStringLiteral("<deny send_destination=\"%1\" send_interface=\"org.freedesktop.Tracker3.Endpoint\"/>")
            .arg(service),
    };
    QFile config(_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    config.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                                "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                "<allow own=\"*\"/>%1</policy></busconfig>\n")
                     .arg(rules[int(refusal)])
                     .toUtf8());
    config.close();
    if (_bus.state() == QProcess::NotRunning)
        return true;
    QDBusInterface bus(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                       QStringLiteral("org.freedesktop.DBus"));
    return QDBusReply<void>(bus.call(QStringLiteral("ReloadConfig"))).isValid();
}

void tst_FeedTaskManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    previousHandler = qInstallMessageHandler(testHandler);
    QVERIFY(_dir.isValid());
    QVERIFY(setRefusal(Refusal::None));
    QVERIFY(StoreEndpoint::startBus(&_bus, _dir.filePath(QStringLiteral("bus.conf"))));
    _endpoint.reset(new StoreEndpoint(_dir.filePath(QStringLiteral("store"))));
    QVERIFY(_endpoint->start());

    const QString plugins = _dir.filePath(QStringLiteral("plugins"));
    QVERIFY(QDir().mkpath(plugins));
    for (const QString& name : FakePlugins)
        QVERIFY(QFile::link(QStringLiteral(FAKE_PLUGIN), plugins + '/' + name));
    qputenv("VIRELON_PLUGIN_DIR", QFile::encodeName(plugins));
    qputenv("VIRELON_COMM_DIR", QFile::encodeName(_dir.path()));
    qputenv("VIRELON_CONFIG_DIR", QFile::encodeName(_dir.filePath(QStringLiteral("etc/virelon"))));
    qputenv("VIRELON_TEST_RETRY_MS", "50");

    QVERIFY(Virelon::instance()->start());
    _plugins = FeedPluginManager::instance();
    _scheduler = FeedTaskManager::instance();
    recordSignals();
}

void tst_FeedTaskManager::cleanupTestCase()
{
    FeedTaskManager::releaseInstance();
    FeedPluginManager::releaseInstance();
    FeedTrackerSparql::releaseInstance();
    _endpoint.reset();
    _bus.terminate();
    _bus.waitForFinished();
}

void tst_FeedTaskManager::init()
{
    // Rows name their channels alike; each row gets channels of its own.
    ++_row;
    _uris.clear();
    _events.clear();
    _plugins->setLimits({5000, 5000, 30000, 500});
}

void tst_FeedTaskManager::cleanup()
{
    QVERIFY(setRefusal(Refusal::None));
    waitUntilIdle();
    FeedSettingsManager::instance()->changeRefreshSetting(FeedSettingsManager::RefreshOnlyWifiKey, false);
}

void tst_FeedTaskManager::recordSignals()
{
    FeedTaskManager* s = _scheduler;
    connect(s, &FeedTaskManager::awake, this, [this] { record("awake"); });
    connect(s, &FeedTaskManager::sleep, this, [this] { record("sleep"); });
    connect(s, &FeedTaskManager::feedDownloadQueued, this,
            [this](const QStringList& uris) { record(("queued " + names(uris)).trimmed()); });
    connect(s, &FeedTaskManager::feedDownloadStarted, this, [this](const QString& uri) { record("started " + nameOf(uri)); });
    connect(s, qOverload<const FeedChannel&>(&FeedTaskManager::feedsDownloaded), this,
            [this](const FeedChannel& channel) { record("downloaded " + nameOf(channel.uri())); });
    connect(s, qOverload<const QString&, int>(&FeedTaskManager::feedsDownloadFailed), this, [this](const QString& uri, int code) {
        record(QStringLiteral("failed %1 %2").arg(nameOf(uri)).arg(code));
    });
    connect(s, &FeedTaskManager::feedsUnsubscribed, this,
            [this](const QStringList& uris) { record("unsubscribed " + names(uris)); });
    connect(s, &FeedTaskManager::refreshCompleted, this, [this](const QString& uri) { record("completed " + nameOf(uri)); });
    connect(s, &FeedTaskManager::refreshState, this, [this](int state) { record(QStringLiteral("state %1").arg(state)); });
}

void tst_FeedTaskManager::addChannels(const QString& list)
{
    for (const QString& entry : list.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        const QStringList words = entry.split(' ');
        if (words.at(1) == QLatin1String("missing")) {
            _uris.insert(words.at(0), QStringLiteral("urn:test:%1-%2").arg(_row).arg(words.at(0)));
            continue;
        }
        FeedChannel channel;
        channel.setType(words.at(1));
        channel.setLink(QStringLiteral("%1:%2-%3").arg(words.at(2)).arg(_row).arg(words.at(0)));
        const QString uri = FeedTrackerSparql::instance()->addChannel(channel);
        QVERIFY2(!uri.isEmpty(), qPrintable(entry));
        _uris.insert(words.at(0), uri);
    }
}

QString tst_FeedTaskManager::names(const QStringList& uris) const
{
    QStringList found;
    for (const QString& uri : uris)
        found << nameOf(uri);
    return found.join(' ');
}

QStringList tst_FeedTaskManager::uris(const QStringList& names) const
{
    QStringList found;
    for (const QString& name : names)
        found << uriOf(name);
    return found;
}

void tst_FeedTaskManager::act(const QString& action)
{
    const QStringList words = action.split(' ');
    const QStringList arguments = uris(words.mid(1));
    const QString& verb = words.first();
    if (verb == QLatin1String("subscribe"))
        _scheduler->subscribe(arguments);
    else if (verb == QLatin1String("refresh"))
        _scheduler->refresh(arguments);
    else if (verb == QLatin1String("auto"))
        _scheduler->autoRefresh(arguments);
    else if (verb == QLatin1String("cancel"))
        _scheduler->cancel(arguments.value(0));
    else if (verb == QLatin1String("cancelRefresh"))
        _scheduler->cancelRefresh(arguments);
    else if (verb == QLatin1String("unsubscribe"))
        _scheduler->unsubscribe(arguments.value(0));
    else if (verb == QLatin1String("cancelAll"))
        _scheduler->cancelAll();
    else if (verb == QLatin1String("onlywifi"))
        FeedSettingsManager::instance()->changeRefreshSetting(FeedSettingsManager::RefreshOnlyWifiKey, true);
    else if (verb == QLatin1String("stray"))
        emit _plugins->downloadFeedsFinished();
    else if (verb == QLatin1String("delete"))
        FeedTrackerSparql::instance()->deleteChannel(arguments.value(0));
    else if (verb == QLatin1String("edit"))
        editLink(arguments.value(0), QStringLiteral("%1:%2-edited").arg(words.value(2)).arg(_row));
    else
        QFAIL(qPrintable("unknown action " + action));
}

void tst_FeedTaskManager::editLink(const QString& channel, const QString& link)
{
    QVERIFY(FeedTrackerSparql::instance()->editChannel(channel, {{FeedTrackerSparql::LinkKey, link}}));
    _scheduler->refresh({channel});
}

// Whatever runs is cancelled, and the scheduler has gone to sleep after it: every awake() is
// followed by a sleep() once the queue has run empty.
void tst_FeedTaskManager::waitUntilIdle()
{
    if (_events.lastIndexOf(QStringLiteral("awake")) <= _events.lastIndexOf(QStringLiteral("sleep")))
        return;
    _scheduler->cancelAll();
    QTRY_COMPARE_WITH_TIMEOUT(_events.value(_events.size() - 1), QStringLiteral("sleep"), StoreEndpoint::timeoutMs());
    QVERIFY(_scheduler->queuedFeeds().isEmpty());
}

void tst_FeedTaskManager::loop_data()
{
    QTest::addColumn<QString>("channels");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("one burst: one awake, one sleep")
        << "A good ok, B good ok" << QStringList{"subscribe A B"}
        << QStringList{"awake", "started A", "queued A B", "completed A", "downloaded A", "started B", "completed B",
                       "downloaded B", "sleep"};
    QTest::newRow("each empty find sleeps") << "X missing, Y missing" << QStringList{"subscribe X", "subscribe Y"}
                                            << QStringList{"awake", "sleep", "queued X", "awake", "sleep", "queued Y"};
    QTest::newRow("a channel no longer stored: nothing said, the next runs")
        << "X missing, A good ok" << QStringList{"subscribe X A"}
        << QStringList{"awake", "started A", "queued X A", "completed A", "downloaded A", "sleep"};
    QTest::newRow("automatic refresh without WLAN: 411; a manual one runs")
        << "A good ok" << QStringList{"onlywifi", "auto A", "refresh A"}
        << QStringList{"queued A",  "awake",     "failed A 411", "sleep",      "queued A", "awake",
                       "started A", "completed A", "downloaded A", "sleep"};
    QTest::newRow("plug-in program missing: 202")
        << "A nosuchplugin ok" << QStringList{"subscribe A"}
        << QStringList{"awake", "started A", "queued A", "failed A 202", "sleep"};
    QTest::newRow("cancelled, then finished: 201")
        << "A good wait-finish" << QStringList{"subscribe A", "cancel A"}
        << QStringList{"awake", "started A", "queued A", "failed A 201", "sleep"};
    // Fault guarded: a fetch that ended well after all work was cancelled was stored.
    QTest::newRow("all cancelled, then finished: 201; the queue is empty")
        << "A good wait-finish, B good ok" << QStringList{"subscribe A B", "cancelAll"}
        << QStringList{"awake", "started A", "queued A B", "failed A 201", "sleep"};
    // Fault guarded: a failure was reported under the channel of the last success.
    QTest::newRow("a failure names its own channel")
        << "A good ok, B good fail-304" << QStringList{"subscribe A B"}
        << QStringList{"awake", "started A", "queued A B", "completed A", "downloaded A", "started B", "failed B 304",
                       "sleep"};
    // Fault guarded: any channel the plug-in gave back counted as the one fetched.
    QTest::newRow("another channel back is no success")
        << "A good other-uri" << QStringList{"subscribe A"}
        << QStringList{"awake", "started A", "queued A", "failed A 202", "sleep"};
    // Fault guarded: a result with no channel task running was reported and moved the loop.
    QTest::newRow("a result nobody asked for is ignored")
        << "A good ok" << QStringList{"stray", "subscribe A"}
        << QStringList{"awake", "started A", "queued A", "completed A", "downloaded A", "sleep"};
}

void tst_FeedTaskManager::loop()
{
    QFETCH(QString, channels);
    QFETCH(QStringList, actions);
    QFETCH(QStringList, events);
    addChannels(channels);
    for (const QString& action : actions)
        act(action);
    QTRY_COMPARE_WITH_TIMEOUT(_events, events, StoreEndpoint::timeoutMs());
}

void tst_FeedTaskManager::requests_data()
{
    QTest::addColumn<QString>("channels");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("queued"); // queuedFeeds() afterwards
    QTest::addColumn<QStringList>("events");

    const QString channels = QStringLiteral("A good wait, B good ok, C good ok, X missing");
    const QStringList running = {"awake", "started A", "queued A"};
    QTest::newRow("subscriptions wait in request order, the running one last")
        << channels << QStringList{"subscribe A", "subscribe B C"} << QStringList{"B", "C", "A"}
        << running + QStringList{"queued B C"};
    QTest::newRow("a subscription of the running channel waits")
        << channels << QStringList{"subscribe A", "subscribe A"} << QStringList{"A", "A"}
        << running + QStringList{"queued A"};
    QTest::newRow("an empty subscription does nothing")
        << channels << QStringList{"subscribe A", "subscribe"} << QStringList{"A"} << running;
    QTest::newRow("a refresh leaves out the running channel")
        << channels << QStringList{"subscribe A", "refresh A"} << QStringList{"A"} << running;
    QTest::newRow("a refresh of a stored and an unknown channel")
        << channels << QStringList{"subscribe A", "refresh B X"} << QStringList{"B", "A"}
        << running + QStringList{"queued B X"};
    QTest::newRow("a refresh naming a channel twice among unknown ones")
        << channels << QStringList{"subscribe A", "refresh X C X B C"} << QStringList{"C", "B", "A"}
        << running + QStringList{"queued X C X B C"};
    QTest::newRow("a refresh of nothing stored") << channels << QStringList{"subscribe A", "refresh X"}
                                                 << QStringList{"A"} << running;
    QTest::newRow("waiting as subscription and as refresh: listed twice")
        << channels << QStringList{"subscribe A", "subscribe B", "refresh B"} << QStringList{"B", "B", "A"}
        << running + QStringList{"queued B", "queued B"};
    QTest::newRow("an automatic refresh of a channel whose manual one waits")
        << channels << QStringList{"subscribe A", "refresh B", "auto B"} << QStringList{"B", "A"}
        << running + QStringList{"queued B", "queued B"};
    QTest::newRow("cancel of a waiting channel")
        << channels << QStringList{"subscribe A", "subscribe B", "cancel B"} << QStringList{"A"}
        << running + QStringList{"queued B", "failed B 201"};
    QTest::newRow("cancel of an idle channel") << channels << QStringList{"subscribe A", "cancel B"}
                                               << QStringList{"A"} << running + QStringList{"failed B 201"};
    QTest::newRow("cancel of the running channel reports when the plug-in stops")
        << channels << QStringList{"subscribe A", "cancel A"} << QStringList{"A"} << running;
    QTest::newRow("cancel of a group")
        << channels << QStringList{"subscribe A", "subscribe B C", "cancelRefresh B C"} << QStringList{"A"}
        << running + QStringList{"queued B C", "failed B 201", "failed C 201"};
    QTest::newRow("unsubscribe of the running channel")
        << channels << QStringList{"subscribe A", "unsubscribe A"} << QStringList()
        << running + QStringList{"failed A 201", "unsubscribed A"};
    QTest::newRow("unsubscribe of a waiting channel")
        << channels << QStringList{"subscribe A", "subscribe B", "unsubscribe B"} << QStringList{"A"}
        << running + QStringList{"queued B", "unsubscribed B"};
    // Fault guarded: a refresh asked for after a cancel was dropped as a copy of the cancelled run.
    QTest::newRow("a refresh of the channel being cancelled waits")
        << channels << QStringList{"subscribe A", "cancel A", "refresh A"} << QStringList{"A", "A"}
        << running + QStringList{"queued A"};
}

void tst_FeedTaskManager::requests()
{
    QFETCH(QString, channels);
    QFETCH(QStringList, actions);
    QFETCH(QStringList, queued);
    QFETCH(QStringList, events);
    addChannels(channels);
    for (const QString& action : actions)
        act(action);
    QCOMPARE(_scheduler->queuedFeeds(), uris(queued));
    QCOMPARE(_events, events);
}

// Fault guarded: a plug-in that crashed on a feed was started on it again for ever.
void tst_FeedTaskManager::crashingPluginIsGivenUp()
{
    addChannels(QStringLiteral("A crash ok, B good ok"));
    act(QStringLiteral("subscribe A"));
    QTRY_COMPARE_WITH_TIMEOUT(_events,
                              QStringList({"awake", "started A", "queued A", "started A", "started A", "failed A 202",
                                           "sleep"}),
                              StoreEndpoint::timeoutMs());
    _events.clear();
    act(QStringLiteral("subscribe B"));
    QTRY_COMPARE_WITH_TIMEOUT(_events,
                              QStringList({"awake", "started B", "queued B", "completed B", "downloaded B", "sleep"}),
                              StoreEndpoint::timeoutMs());
}

void tst_FeedTaskManager::unsubscribedDuringFetch_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("the fetch still succeeds") << "wait-finish";
    QTest::newRow("the fetch ends cancelled") << "wait";
}

// Fault guarded: the late result of an unsubscribed channel wrote it back into the store or
// reported its cancel a second time.
void tst_FeedTaskManager::unsubscribedDuringFetch()
{
    QFETCH(QString, link);
    addChannels("A good " + link);
    act(QStringLiteral("subscribe A"));
    Virelon::instance()->unsubscribe(uriOf("A"));
    QTRY_COMPARE_WITH_TIMEOUT(_events,
                              QStringList({"awake", "started A", "queued A", "failed A 201", "unsubscribed A", "sleep"}),
                              StoreEndpoint::timeoutMs());
    QVERIFY(!FeedTrackerSparql::instance()->allChannelUrls().contains(uriOf("A")));
    QVERIFY(!errorEntry(uriOf("A")).isValid());
}

void tst_FeedTaskManager::lateExitOfAStoppedPlugin_data()
{
    QTest::addColumn<QString>("replacement");
    QTest::newRow("the same plug-in") << "stubborn";
    QTest::newRow("another plug-in") << "good";
}

// A plug-in told to stop at the end of a burst ignores it and dies only when killed, while the
// next task already runs; its end must not end that task.
void tst_FeedTaskManager::lateExitOfAStoppedPlugin()
{
    QFETCH(QString, replacement);
    addChannels("A stubborn ok, B " + replacement + " wait");
    act(QStringLiteral("subscribe A"));
    QTRY_COMPARE_WITH_TIMEOUT(_events.value(_events.size() - 1), QStringLiteral("sleep"), StoreEndpoint::timeoutMs());
    _events.clear();
    act(QStringLiteral("subscribe B"));
    QTRY_COMPARE_WITH_TIMEOUT(_plugins->processCount(), 1, StoreEndpoint::timeoutMs());
    QCOMPARE(_scheduler->queuedFeeds(), QStringList{uriOf("B")});
    act(QStringLiteral("cancel B"));
    QTRY_COMPARE_WITH_TIMEOUT(_events, QStringList({"awake", "started B", "queued B", "failed B 201", "sleep"}),
                              StoreEndpoint::timeoutMs());
}

// Fault guarded: a result slot deleted its task after a receiver of its signal had already
// handed that task back to the queue.
void tst_FeedTaskManager::handBackWhileReporting()
{
    addChannels(QStringLiteral("A good ok"));
    bool once = true;
    QMetaObject::Connection exitOnce = connect(_scheduler, qOverload<const FeedChannel&>(&FeedTaskManager::feedsDownloaded), this, [&] {
        if (std::exchange(once, false))
            emit _plugins->pluginExited(QStringLiteral("good"));
    });
    act(QStringLiteral("subscribe A"));
    QTRY_COMPARE_WITH_TIMEOUT(_events,
                              QStringList({"awake", "started A", "queued A", "completed A", "downloaded A", "started A",
                                           "completed A", "downloaded A", "sleep"}),
                              StoreEndpoint::timeoutMs());
    disconnect(exitOnce);
}

// Fault guarded: a task refused because the plug-in was busy waited for the next request.
void tst_FeedTaskManager::busyPluginIsTriedAgain()
{
    _plugins->setLimits({5000, 5000, 300, 500});
    addChannels(QStringLiteral("B good ok"));
    FeedChannel hanging;
    hanging.setUri(QStringLiteral("urn:test:hanging"));
    hanging.setType(QStringLiteral("hang"));
    hanging.setLink(QStringLiteral("ok:hanging"));
    _plugins->downloadFeeds(hanging);
    act(QStringLiteral("subscribe B"));
    QCOMPARE(_events, QStringList{"queued B"});
    QTRY_COMPARE_WITH_TIMEOUT(_events,
                              QStringList({"queued B", "awake", "started B", "completed B", "downloaded B", "sleep"}),
                              StoreEndpoint::timeoutMs());
}

// Fault guarded: every restart of a plug-in counted against its load limit for the daemon's
// life, so that after five hangs, however far apart, every fetch failed with 202.
void tst_FeedTaskManager::eachTaskHangsOnceAndStillRuns()
{
    _plugins->setLimits({5000, 5000, 300, 500});
    for (const QString name : {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J"}) {
        addChannels(name + " good hang-once");
        _events.clear();
        act("refresh " + name);
        QTRY_COMPARE_WITH_TIMEOUT(_events,
                                  QStringList({"queued " + name, "awake", "started " + name, "started " + name,
                                               "completed " + name, "downloaded " + name, "sleep"}),
                                  StoreEndpoint::timeoutMs());
    }
}

// Fault guarded: a channel deleted while it was fetched was written back, its refresh reported
// complete and its error entry set to 0.
void tst_FeedTaskManager::channelDeletedDuringFetch()
{
    addChannels(QStringLiteral("A good wait-finish"));
    QSignalSpy errorsSent(Virelon::instance(), &Virelon::refreshError);
    QSignalSpy completions(Virelon::instance(), &Virelon::refreshCompleted);
    act(QStringLiteral("subscribe A"));
    FeedTrackerSparql::instance()->deleteChannel(uriOf("A"));
    _plugins->cancelDownload(false);
    QTRY_COMPARE_WITH_TIMEOUT(_events, QStringList({"awake", "started A", "queued A", "downloaded A", "sleep"}),
                              StoreEndpoint::timeoutMs());
    QCOMPARE(errorsSent.size(), 1);
    QCOMPARE(errorsSent.at(0), QVariantList({uriOf("A"), 201}));
    QCOMPARE(completions.size(), 0);
    QVERIFY(!FeedTrackerSparql::instance()->allChannelUrls().contains(uriOf("A")));
    QVERIFY(!errorEntry(uriOf("A")).isValid());
}

// Fault guarded: a refresh whose writes the store refused ended as completed, and the error
// entry kept the last code. The essential file of a message stored before is still fetched. A
// channel the store could not read ended without a word.
void tst_FeedTaskManager::refusedWritesEndTheRefresh_data()
{
    QTest::addColumn<QString>("channels");
    QTest::addColumn<bool>("storedBefore");
    QTest::addColumn<int>("downloads");
    QTest::addColumn<int>("refusal");
    const int updates = int(Refusal::Updates);
    QTest::newRow("a new message") << "A good with-message" << false << 0 << updates;
    QTest::newRow("a new message with enclosures") << "A good with-enclosures" << false << 0 << updates;
    QTest::newRow("a message stored before") << "A good with-enclosures" << true << 1 << updates;
    QTest::newRow("the channel not read") << "A good with-message" << false << 0 << int(Refusal::All);
}

void tst_FeedTaskManager::refusedWritesEndTheRefresh()
{
    QFETCH(QString, channels);
    QFETCH(bool, storedBefore);
    QFETCH(int, downloads);
    QFETCH(int, refusal);
    const QString folder = VirelonPaths::enclosureDir();
    qputenv("FAKE_PLUGIN_ENCLOSURES", QStringLiteral("ok:e %1/e%2;ok:o %1/o%2").arg(folder).arg(_row).toUtf8());
    addChannels(channels);
    setErrorEntry(uriOf("A"), 404);
    if (storedBefore) {
        act(QStringLiteral("subscribe A"));
        QTRY_COMPARE_WITH_TIMEOUT(_events.value(_events.size() - 1), QStringLiteral("sleep"), StoreEndpoint::timeoutMs());
        _events.clear();
    }
    QSignalSpy errorsSent(Virelon::instance(), &Virelon::refreshError);
    QSignalSpy completions(Virelon::instance(), &Virelon::refreshCompleted);
    QSignalSpy fetched(_plugins, &FeedPluginManager::downloadEnclosureFinished);
    QVERIFY(setRefusal(Refusal(refusal)));
    act(QStringLiteral("subscribe A"));
    QTRY_VERIFY_WITH_TIMEOUT(_events.contains(QStringLiteral("sleep")), StoreEndpoint::timeoutMs());
    QCOMPARE(errorsSent.size(), 1);
    QCOMPARE(errorsSent.at(0), QVariantList({uriOf("A"), 202}));
    QCOMPARE(completions.size(), 0);
    QCOMPARE(fetched.size(), downloads);
    QCOMPARE(errorEntry(uriOf("A")).toInt(), 202);
    QCOMPARE(FeedTrackerSparql::instance()->messagesForChannel(uriOf("A")).size(), int(storedBefore));
}

// A "not modified" answer's time is written with the others of its round, once the work has
// run out; what happened to the channel meanwhile stands.
void tst_FeedTaskManager::notModifiedTimes_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::newRow("written once the work has run out") << "";
    QTest::newRow("written while a download still runs") << "wait";
    QTest::newRow("an edit made meanwhile stands") << "edit";
    QTest::newRow("a rename keeps the waiting time") << "rename";
    QTest::newRow("nothing for a channel unsubscribed meanwhile") << "unsubscribe";
}

void tst_FeedTaskManager::notModifiedTimes()
{
    QFETCH(QString, meanwhile);
    addChannels(QStringLiteral("A good fail-304, B good wait"));
    const QString channel = uriOf("A");
    const QString edited = QStringLiteral("2020-01-02T03:04:05");
    act(QStringLiteral("subscribe A B"));
    QTRY_VERIFY_WITH_TIMEOUT(_events.contains(QStringLiteral("started B")), StoreEndpoint::timeoutMs());
    QVERIFY(_events.contains(QStringLiteral("failed A 304")));
    if (meanwhile == QLatin1String("wait")) {
        QTRY_VERIFY_WITH_TIMEOUT(FeedTrackerSparql::instance()->channelForUri(channel).updatedTime().isValid(),
                                 FeedRefreshTimes::MaximumWaitMs + StoreEndpoint::timeoutMs());
        QVERIFY(!_events.contains(QStringLiteral("sleep")));
    }
    if (meanwhile == QLatin1String("edit"))
        Virelon::instance()->editChannel(channel, {{FeedTrackerSparql::LastModifiedTimeKey, edited}});
    if (meanwhile == QLatin1String("rename"))
        Virelon::instance()->editChannel(channel, {{FeedTrackerSparql::TitleKey, QStringLiteral("Renamed")}});
    if (meanwhile == QLatin1String("unsubscribe"))
        Virelon::instance()->unsubscribe(channel);
    act(QStringLiteral("cancel B"));
    QTRY_COMPARE_WITH_TIMEOUT(_events.value(_events.size() - 1), QStringLiteral("sleep"), StoreEndpoint::timeoutMs());
    const FeedChannel stored = FeedTrackerSparql::instance()->channelForUri(channel);
    if (meanwhile == QLatin1String("unsubscribe"))
        QVERIFY(stored.uri().isEmpty());
    else if (meanwhile == QLatin1String("edit"))
        QCOMPARE(stored.updatedTime(), QDateTime::fromString(edited, Qt::ISODate));
    else
        QVERIFY(stored.updatedTime() > QDateTime::fromString(edited, Qt::ISODate));
}

// The waiting channels are read when the first of them starts; a change made after that is
// still seen: a channel gone from the store gets nothing written, a changed link is fetched.
void tst_FeedTaskManager::changedAfterRead_data()
{
    QTest::addColumn<QString>("channels");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("events");
    const QStringList first{"awake", "started A", "queued A B"};
    QTest::newRow("gone from the store") << "A good wait, B good with-message" << "delete B"
                                         << first + QStringList{"failed A 201", "started B", "downloaded B", "sleep"};
    QTest::newRow("a new link") << "A good wait, B good fail-304" << "edit B ok"
                                << first + QStringList{"queued B", "failed A 201", "started B", "completed B",
                                                       "downloaded B", "started B", "completed B", "downloaded B",
                                                       "sleep"};
}

void tst_FeedTaskManager::changedAfterRead()
{
    QFETCH(QString, channels);
    QFETCH(QString, change);
    QFETCH(QStringList, events);
    addChannels(channels);
    for (const QString& action : {QStringLiteral("subscribe A B"), change, QStringLiteral("cancel A")})
        act(action);
    QTRY_COMPARE_WITH_TIMEOUT(_events, events, StoreEndpoint::timeoutMs());
    QVERIFY(FeedTrackerSparql::instance()->messageLinksOfChannel(uriOf("B")).isEmpty());
}

// Fault guarded: with the store unreachable at start the channel error store was emptied; a
// backlog of tasks that end without the plug-in nested a loop per task until the stack ran out
// (20000 did); a call back into the scheduler from inside its construction waited for ever.
void tst_FeedTaskManager::unreachableStore()
{
    addChannels(QStringLiteral("A good ok"));
    const QString gone = QStringLiteral("urn:test:gone/1");
    setErrorEntry(uriOf("A"), 404);
    setErrorEntry(gone, 500);
    _endpoint->stop();
    FeedTaskManager::releaseInstance();
    callBackDuringConstruction = true;
    _scheduler = FeedTaskManager::instance();
    recordSignals();
    QCOMPARE(nestedCalls, 1);
    QVERIFY(!nestedResult);
    QCOMPARE(errorEntry(uriOf("A")).toInt(), 404);
    QCOMPARE(errorEntry(gone).toInt(), 500);

    QStringList backlog;
    for (int i = 0; i < 2000; ++i)
        backlog << QStringLiteral("urn:test:backlog:%1").arg(i);
    quiet = true;
    _scheduler->subscribe(backlog);
    quiet = false;
    // Each subscription the store could not read ends with the store's error.
    QCOMPARE(_events.first(), QStringLiteral("awake"));
    QCOMPARE(_events.filter(QRegularExpression(QStringLiteral("^failed .* 202$"))).size(), backlog.size());
    QCOMPARE(_events.mid(backlog.size() + 1), QStringList({"sleep", _events.last()}));
    QVERIFY2(shallowest - deepest < 16 * 1024, qPrintable(QString::number(shallowest - deepest)));

    QVERIFY(_endpoint->start());
    FeedTaskManager::releaseInstance();
    _scheduler = FeedTaskManager::instance();
    recordSignals();
    QCOMPARE(errorEntry(uriOf("A")).toInt(), 404);
    QVERIFY(!errorEntry(gone).isValid());
}

VIRELON_TEST_MAIN(tst_FeedTaskManager)
#include "tst_feedtaskmanager.moc"

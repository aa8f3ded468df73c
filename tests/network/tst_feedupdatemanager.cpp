#include "feeddevicestatemanager.h"
#include "feedheartbeatwindow.h"
#include "feednetworkmanager.h"
#include "feedsettingsmanager.h"
#include "feedtaskmanager.h"
#include "feedtrackersparql.h"
#include "feedupdatemanager.h"
#include "korvel2control.h"
#include "logrecorder.h"
#include "storeendpoint.h"
#include "testbearer.h"
#include "testenvironment.h"

#include <QSettings>

#include <memory>

class tst_FeedUpdateManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void windows_data();
    void windows();
    void waits_data();
    void waits();

private:
    QTemporaryDir _folder;
    std::unique_ptr<StoreEndpoint> _endpoint;
};

namespace {

Vantor::Korvel2Control* control()
{
    return Vantor::Korvel2Control::instance();
}

// One step: "create", "restart", "force", "fire" (the pending wake-up, delivered), "fire-none"
// (no wait pending), "wakeUp" (the slot without its argument) or "key=value" (a setting changed).
void run(const QString& step)
{
    if (step == QLatin1String("create"))
        FeedUpdateManager::instance();
    else if (step == QLatin1String("restart"))
        FeedUpdateManager::instance()->restartTimer();
    else if (step == QLatin1String("force"))
        FeedUpdateManager::instance()->forceRestartTimer();
    else if (step == QLatin1String("fire")) {
        QVERIFY(control()->fireWakeUp());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    } else if (step == QLatin1String("fire-none"))
        QVERIFY(!control()->fireWakeUp());
    else if (step == QLatin1String("wakeUp"))
        QVERIFY(QMetaObject::invokeMethod(FeedUpdateManager::instance(), "wakeUp"));
    else if (step.contains(QLatin1Char('='))) {
        const QStringList setting = step.split(QLatin1Char('='));
        QVERIFY(FeedSettingsManager::instance()->changeRefreshSetting(setting.at(0), setting.at(1)));
    } else
        QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
}

} // namespace

// A wake-up reaches the real scheduler, on an empty store of the test's own and the test bearer.
void tst_FeedUpdateManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    qputenv("VIRELON_PLATFORM_CONTROL", "1");
    TestBearer::useAlone();
    _endpoint.reset(new StoreEndpoint(_folder.filePath(QStringLiteral("store"))));
    QVERIFY(_endpoint->start());
}

void tst_FeedUpdateManager::cleanup()
{
    FeedTrackerSparql::instance()->deleteAllChannels();
    FeedTaskManager::releaseInstance();
    FeedDeviceStateManager::releaseInstance();
    FeedNetworkManager::releaseInstance();
    FeedUpdateManager::releaseInstance();
    FeedSettingsManager::releaseInstance();
    TestBearer::reset();
    control()->setHeartbeatAvailable(true);
}

void tst_FeedUpdateManager::windows_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QStringList>("legs");

    QTest::newRow("10") << 10 << 600 << 660 << QStringList{"600..660"};
    QTest::newRow("61, not 4026") << 61 << 3660 << 4025 << QStringList{"3660..4025"};
    QTest::newRow("117, not 7722") << 117 << 7020 << 7721 << QStringList{"7020..7721"};
    QTest::newRow("180") << 180 << 10800 << 11880 << QStringList{"10800..11880"};
    QTest::newRow("993, maximum beyond a wait") << 993 << 59580 << 65538 << QStringList{"59580..65535"};
    QTest::newRow("1093, minimum beyond a wait") << 1093 << 65580 << 72138
                                                 << QStringList{"65535..65535", "45..6603"};
    QTest::newRow("1440") << 1440 << 86400 << 95040 << QStringList{"65535..65535", "20865..29505"};
}

void tst_FeedUpdateManager::windows()
{
    QFETCH(int, interval);
    FeedHeartbeatWindow window = FeedHeartbeatWindow::forInterval(interval);
    QTEST(window.minimum(), "minimum");
    QTEST(window.maximum(), "maximum");

    QStringList legs;
    for (;; window = window.rest()) {
        legs << QStringLiteral("%1..%2").arg(window.waitMinimum()).arg(window.waitMaximum());
        if (window.fitsOneWait())
            break;
    }
    QTEST(legs, "legs");
}

void tst_FeedUpdateManager::waits_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<bool>("heartbeat"); // false: opening it fails
    QTest::addColumn<QString>("network"); // a stored channel, and how its connection goes: "", "opens", "fails"
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("waits");
    QTest::addColumn<int>("acknowledgements");
    QTest::addColumn<QString>("refresh"); // what the scheduler's automatic refresh logged, if it ran

    const QVariantMap automatic = {{QStringLiteral("Refresh/automatic"), true}};
    const QString usual = QStringLiteral("10800..11880");
    const QString noChannels = QStringLiteral("No channels in tracker !");
    const QString none;
    auto with = [&automatic](const QString& key, const QVariant& value) {
        QVariantMap stored = automatic;
        stored.insert(key, value);
        return stored;
    };

    QTest::newRow("automatic off") << QVariantMap() << true << none << "create restart" << QStringList() << 1 << none;
    QTest::newRow("only WLAN at start, automatic off")
        << QVariantMap{{QStringLiteral("Refresh/onlywifi"), true}} << true << none << "fire-none" << QStringList() << 0
        << none;
    QTest::newRow("automatic at start") << automatic << true << none << "" << QStringList{usual} << 0 << none;
    QTest::newRow("restart while pending") << automatic << true << none << "restart restart" << QStringList{usual} << 0
                                           << none;
    QTest::newRow("wake-up, empty store: re-armed at once")
        << automatic << true << none << "fire" << QStringList{usual, usual} << 1 << noChannels;
    QTest::newRow("two sleeps after a wake-up") << automatic << true << none << "fire restart restart"
                                                << QStringList{usual, usual} << 1 << noChannels;
    QTest::newRow("wake-up slot without time") << automatic << true << none << "wakeUp" << QStringList{usual, usual}
                                               << 1 << noChannels;
    QTest::newRow("no connection: re-armed at once")
        << automatic << true << "fails" << "fire" << QStringList{usual, usual} << 1
        << "Can not create network connection, not enqueuing feed tasks";
    QTest::newRow("only WLAN, on ethernet: re-armed at once")
        << with(QStringLiteral("Refresh/onlywifi"), true) << true << "opens" << "fire" << QStringList{usual, usual}
        << 1 << "No active WLAN connection found";
    QTest::newRow("forced while pending") << automatic << true << none << "force" << QStringList{usual, usual} << 1
                                          << none;
    QTest::newRow("first use through a setting") << QVariantMap() << true << none << "Refresh/automatic=true"
                                                 << QStringList{usual, usual} << 1 << none;
    QTest::newRow("interval changed") << automatic << true << none << "Refresh/interval=61"
                                      << QStringList{usual, "3660..4025"} << 1 << none;
    QTest::newRow("turned off, earlier wait delivered")
        << automatic << true << none << "Refresh/automatic=false fire restart" << QStringList{usual} << 2
        << "Auto refresh disabled";
    QTest::newRow("open failure: the wait is still asked for") << automatic << false << none << "fire-none"
                                                               << QStringList{usual} << 0 << none;
    QTest::newRow("993 minutes") << with(QStringLiteral("Refresh/interval"), 993) << true << none << ""
                                 << QStringList{"59580..65535"} << 0 << none;
    QTest::newRow("1093 minutes: a leg first")
        << with(QStringLiteral("Refresh/interval"), 1093) << true << none << "fire"
        << QStringList{"65535..65535", "45..6603"} << 1 << none;
    QTest::newRow("1440 minutes: pending through the legs")
        << with(QStringLiteral("Refresh/interval"), 1440) << true << none << "restart fire restart fire restart"
        << QStringList{"65535..65535", "20865..29505", "65535..65535"} << 2 << noChannels;
}

void tst_FeedUpdateManager::waits()
{
    QFETCH(QVariantMap, stored);
    QFETCH(bool, heartbeat);
    QFETCH(QString, network);
    QFETCH(QString, steps);
    QFETCH(QString, refresh);

    control()->setHeartbeatAvailable(heartbeat);
    if (!network.isEmpty()) {
        FeedChannel channel;
        channel.setLink(QStringLiteral("http://feeds.invalid/") + QLatin1String(QTest::currentDataTag()));
        channel.setType(QStringLiteral("tamsil"));
        QVERIFY(!FeedTrackerSparql::instance()->addChannel(channel).isEmpty());
        QVERIFY(TestBearer::setConfiguration(QStringLiteral("eth0"), QStringLiteral("Ethernet"),
                                             QStringLiteral("Active")));
        TestBearer::setDefault(QStringLiteral("eth0"));
        QVERIFY(TestBearer::setSessionOutcome(network));
    }
    const int waitsBefore = control()->waits().size();
    const int acknowledgementsBefore = control()->acknowledgements();
    LogRecorder log;
    {
        QSettings settings(_folder.filePath(QLatin1String(QTest::currentDataTag()) + QLatin1String(".conf")),
                           QSettings::IniFormat);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            settings.setValue(it.key(), it.value());
        FeedSettingsManager::instance()->loadSettings(&settings);
    }
    for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        run(step);
        if (QTest::currentTestFailed())
            return;
    }

    QTEST(QStringList(control()->waits().mid(waitsBefore)), "waits");
    QTEST(control()->acknowledgements() - acknowledgementsBefore, "acknowledgements");
    QCOMPARE(log.count(QtCriticalMsg, QStringLiteral("Heartbeat Open() FAILED")), heartbeat ? 0 : 1);
    // The scheduler's own line, not the heartbeat manager's of the same words.
    const QString schedulerLine = QStringLiteral("FeedTaskManager::startAutoRefresh()\nstartAutoRefresh\n");
    if (!refresh.isEmpty())
        QCOMPARE(log.count(QtDebugMsg, schedulerLine + refresh), 1);
    QCOMPARE(log.count(QtDebugMsg, QStringLiteral("HEARTBEAT : Woke up, consumed")), refresh.isEmpty() ? 0 : 1);
}

VIRELON_TEST_MAIN(tst_FeedUpdateManager)
#include "tst_feedupdatemanager.moc"

#include "feedheartbeatwindow.h"
#include "feedsettingsmanager.h"
#include "feedupdatemanager.h"
#include "korvel2control.h"
#include "logrecorder.h"
#include "testenvironment.h"

#include <QSettings>

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

void tst_FeedUpdateManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    qputenv("VIRELON_PLATFORM_CONTROL", "1");
}

void tst_FeedUpdateManager::cleanup()
{
    FeedUpdateManager::releaseInstance();
    FeedSettingsManager::releaseInstance();
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
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("waits");
    QTest::addColumn<int>("acknowledgements");

    const QVariantMap automatic = {{QStringLiteral("Refresh/automatic"), true}};
    const QString usual = QStringLiteral("10800..11880");
    auto withInterval = [&automatic](int minutes) {
        QVariantMap stored = automatic;
        stored.insert(QStringLiteral("Refresh/interval"), minutes);
        return stored;
    };

    QTest::newRow("automatic off") << QVariantMap() << true << "create restart" << QStringList() << 1;
    QTest::newRow("only WLAN at start, automatic off")
        << QVariantMap{{QStringLiteral("Refresh/onlywifi"), true}} << true << "fire-none" << QStringList() << 0;
    QTest::newRow("automatic at start") << automatic << true << "" << QStringList{usual} << 0;
    QTest::newRow("restart while pending") << automatic << true << "restart restart" << QStringList{usual} << 0;
    QTest::newRow("two restarts after a wake-up") << automatic << true << "fire restart restart"
                                                  << QStringList{usual, usual} << 1;
    QTest::newRow("wake-up slot without time") << automatic << true << "wakeUp restart" << QStringList{usual, usual}
                                               << 1;
    QTest::newRow("forced while pending") << automatic << true << "force" << QStringList{usual, usual} << 1;
    QTest::newRow("first use through a setting") << QVariantMap() << true << "Refresh/automatic=true"
                                                 << QStringList{usual, usual} << 1;
    QTest::newRow("interval changed") << automatic << true << "Refresh/interval=61"
                                      << QStringList{usual, "3660..4025"} << 1;
    QTest::newRow("turned off, earlier wait delivered")
        << automatic << true << "Refresh/automatic=false fire restart" << QStringList{usual} << 2;
    QTest::newRow("open failure: the wait is still asked for") << automatic << false << "fire-none"
                                                               << QStringList{usual} << 0;
    QTest::newRow("993 minutes") << withInterval(993) << true << "" << QStringList{"59580..65535"} << 0;
    QTest::newRow("1093 minutes: a leg first") << withInterval(1093) << true << "fire"
                                               << QStringList{"65535..65535", "45..6603"} << 1;
    QTest::newRow("1440 minutes: pending through the legs")
        << withInterval(1440) << true << "restart fire restart fire restart"
        << QStringList{"65535..65535", "20865..29505", "65535..65535"} << 2;
}

void tst_FeedUpdateManager::waits()
{
    QFETCH(QVariantMap, stored);
    QFETCH(bool, heartbeat);
    QFETCH(QString, steps);

    control()->setHeartbeatAvailable(heartbeat);
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
}

VIRELON_TEST_MAIN(tst_FeedUpdateManager)
#include "tst_feedupdatemanager.moc"

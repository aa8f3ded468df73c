#include "feedsettingsmanager.h"
#include "testenvironment.h"

#include <QSettings>

class tst_FeedSettingsManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loadSettings_data();
    void loadSettings();
    void changeRefreshSetting_data();
    void changeRefreshSetting();
    void changeEnclosureSetting_data();
    void changeEnclosureSetting();

private:
    void load(const QVariantMap& stored);

    QTemporaryDir _folder;
};

namespace {

const QString Automatic = QStringLiteral("Refresh/automatic");
const QString Interval = QStringLiteral("Refresh/interval");
const QString OnlyWifi = QStringLiteral("Refresh/onlywifi");
const QString EnclosureAutomatic = QStringLiteral("Enclosure/automatic");
const QString EnclosureOnlyWifi = QStringLiteral("Enclosure/onlywifi");

// The warnings logged while it lives, by their message (the last line of a log entry).
class WarningCapture
{
public:
    WarningCapture()
    {
        _previous = qInstallMessageHandler(capture);
        warnings().clear();
    }
    ~WarningCapture() { qInstallMessageHandler(_previous); }

    static QStringList& warnings()
    {
        static QStringList list;
        return list;
    }

private:
    static void capture(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type == QtWarningMsg)
            warnings() << message.section(QLatin1Char('\n'), -1);
    }

    QtMessageHandler _previous;
};

// The five cached values in one comparable line.
QString cachedWith(bool automatic, int interval, bool onlyWifi, bool enclosureAutomatic, bool enclosureOnlyWifi)
{
    return QStringLiteral("automatic=%1 interval=%2 onlywifi=%3 enclosure automatic=%4 enclosure onlywifi=%5")
        .arg(automatic)
        .arg(interval)
        .arg(onlyWifi)
        .arg(enclosureAutomatic)
        .arg(enclosureOnlyWifi);
}

QString cached()
{
    const FeedSettingsManager* manager = FeedSettingsManager::instance();
    return cachedWith(manager->refreshAutomatic(), manager->refreshInterval(), manager->refreshOnlyWifi(),
                      manager->enclosureAutomatic(), manager->enclosureOnlyWifi());
}

} // namespace

void tst_FeedSettingsManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
}

void tst_FeedSettingsManager::load(const QVariantMap& stored)
{
    QSettings settings(_folder.path() + QStringLiteral("/settings.conf"), QSettings::IniFormat);
    settings.clear();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        settings.setValue(it.key(), it.value());
    FeedSettingsManager::instance()->loadSettings(&settings);
}

void tst_FeedSettingsManager::loadSettings_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing stored") << QVariantMap() << cachedWith(false, 180, false, false, false);
    QTest::newRow("all set, as text") << QVariantMap{{Automatic, QStringLiteral("true")},
                                                     {Interval, QStringLiteral("60")},
                                                     {OnlyWifi, QStringLiteral("true")},
                                                     {EnclosureAutomatic, QStringLiteral("true")},
                                                     {EnclosureOnlyWifi, QStringLiteral("true")}}
                                      << cachedWith(true, 60, true, true, true);
    QTest::newRow("interval below range") << QVariantMap{{Interval, 5}} << cachedWith(false, 10, false, false, false);
    QTest::newRow("interval above range")
        << QVariantMap{{Interval, 2000}} << cachedWith(false, 1440, false, false, false);
    QTest::newRow("interval not a number")
        << QVariantMap{{Interval, QStringLiteral("soon")}} << cachedWith(false, 10, false, false, false);
}

void tst_FeedSettingsManager::loadSettings()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, expected);

    load(stored);
    QCOMPARE(cached(), expected);
}

void tst_FeedSettingsManager::changeRefreshSetting_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("automatic on") << QVariantMap() << Automatic << QVariant(true) << true
                                  << cachedWith(true, 180, false, false, false);
    QTest::newRow("automatic already off")
        << QVariantMap() << Automatic << QVariant(false) << false << cachedWith(false, 180, false, false, false);
    QTest::newRow("automatic as text") << QVariantMap() << Automatic << QVariant(QStringLiteral("true")) << true
                                       << cachedWith(true, 180, false, false, false);
    QTest::newRow("interval") << QVariantMap() << Interval << QVariant(60) << true
                              << cachedWith(false, 60, false, false, false);
    QTest::newRow("interval as text") << QVariantMap() << Interval << QVariant(QStringLiteral("45")) << true
                                      << cachedWith(false, 45, false, false, false);
    // A zero interval would give a zero-length wake-up window: it is held like a loaded one.
    QTest::newRow("interval 0 clamped") << QVariantMap() << Interval << QVariant(0) << true
                                        << cachedWith(false, 10, false, false, false);
    QTest::newRow("interval above range clamped")
        << QVariantMap() << Interval << QVariant(5000) << true << cachedWith(false, 1440, false, false, false);
    QTest::newRow("interval clamped to the held value") << QVariantMap{{Interval, 10}} << Interval << QVariant(5)
                                                        << false << cachedWith(false, 10, false, false, false);
    QTest::newRow("interval not a number") << QVariantMap() << Interval << QVariant(QStringLiteral("soon")) << false
                                           << cachedWith(false, 180, false, false, false);
    QTest::newRow("only wifi on") << QVariantMap() << OnlyWifi << QVariant(true) << true
                                  << cachedWith(false, 180, true, false, false);
    QTest::newRow("only wifi off") << QVariantMap{{OnlyWifi, true}} << OnlyWifi << QVariant(false) << true
                                   << cachedWith(false, 180, false, false, false);
    QTest::newRow("key in other case") << QVariantMap() << QStringLiteral("refresh/automatic") << QVariant(true)
                                       << false << cachedWith(false, 180, false, false, false);
    QTest::newRow("enclosure key") << QVariantMap() << EnclosureAutomatic << QVariant(true) << false
                                   << cachedWith(false, 180, false, false, false);
}

void tst_FeedSettingsManager::changeRefreshSetting()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, changed);
    QFETCH(QString, expected);

    load(stored);
    WarningCapture capture;
    QCOMPARE(FeedSettingsManager::instance()->changeRefreshSetting(key, value), changed);
    QCOMPARE(cached(), expected);
    const QStringList warnings =
        changed ? QStringList() : QStringList{QStringLiteral("Cannot change to required setting")};
    QCOMPARE(WarningCapture::warnings(), warnings);
}

void tst_FeedSettingsManager::changeEnclosureSetting_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("expected");

    QTest::newRow("automatic on") << QVariantMap() << EnclosureAutomatic << QVariant(true) << true
                                  << cachedWith(false, 180, false, true, false);
    QTest::newRow("only wifi on") << QVariantMap() << EnclosureOnlyWifi << QVariant(true) << true
                                  << cachedWith(false, 180, false, false, true);
    QTest::newRow("only wifi already on")
        << QVariantMap{{EnclosureOnlyWifi, true}} << EnclosureOnlyWifi << QVariant(QStringLiteral("true")) << false
        << cachedWith(false, 180, false, false, true);
    QTest::newRow("refresh key") << QVariantMap() << Automatic << QVariant(true) << false
                                 << cachedWith(false, 180, false, false, false);
}

void tst_FeedSettingsManager::changeEnclosureSetting()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, changed);
    QFETCH(QString, expected);

    load(stored);
    WarningCapture capture;
    QCOMPARE(FeedSettingsManager::instance()->changeEnclosureSetting(key, value), changed);
    QCOMPARE(cached(), expected);
    const QStringList warnings = changed ? QStringList() : QStringList{QStringLiteral("No Change in settings!!!")};
    QCOMPARE(WarningCapture::warnings(), warnings);
}

VIRELON_TEST_MAIN(tst_FeedSettingsManager)
#include "tst_feedsettingsmanager.moc"

#include "feedsettingsmanager.h"
#include "testenvironment.h"

#include <QSettings>

class tst_FeedSettingsManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loadAndChange_data();
    void loadAndChange();
    void heldValues();

private:
    QTemporaryDir _folder;
};

namespace {

const QString Automatic = QStringLiteral("Refresh/automatic");
const QString Interval = QStringLiteral("Refresh/interval");
const QString OnlyWifi = QStringLiteral("Refresh/onlywifi");
const QString EnclosureAutomatic = QStringLiteral("Enclosure/automatic");
const QString EnclosureOnlyWifi = QStringLiteral("Enclosure/onlywifi");

// The cached values: refresh automatic, interval, only wifi; enclosure automatic, only wifi.
QString cached()
{
    const FeedSettingsManager* manager = FeedSettingsManager::instance();
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(manager->refreshAutomatic())
        .arg(manager->refreshInterval())
        .arg(manager->refreshOnlyWifi())
        .arg(manager->enclosureAutomatic())
        .arg(manager->enclosureOnlyWifi());
}

} // namespace

void tst_FeedSettingsManager::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
}

void tst_FeedSettingsManager::loadAndChange_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QString>("key"); // empty: load only
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, const QVariantMap& stored, const QString& key, const QVariant& value,
                        bool changed, const char* expected) {
        QTest::newRow(name) << stored << key << value << changed << QString::fromLatin1(expected);
    };
    const QVariantMap none;

    row("load nothing stored", none, QString(), QVariant(), false, "0 180 0 0 0");
    row("load all, as text",
        {{Automatic, "true"}, {Interval, "60"}, {OnlyWifi, "true"}, {EnclosureAutomatic, "true"},
         {EnclosureOnlyWifi, "true"}},
        QString(), QVariant(), false, "1 60 1 1 1");
    // Regression: a hand-edited "no" or "off" loaded as on.
    row("load flags from other text", {{Automatic, "no"}, {OnlyWifi, "off"}, {EnclosureAutomatic, "1"}},
        QString(), QVariant(), false, "0 180 0 1 0");
    row("load interval below range", {{Interval, 5}}, QString(), QVariant(), false, "0 10 0 0 0");
    row("load interval above range", {{Interval, 2000}}, QString(), QVariant(), false, "0 1440 0 0 0");

    row("automatic on, as text", none, Automatic, "true", true, "1 180 0 0 0");
    row("automatic already off", none, Automatic, false, false, "0 180 0 0 0");
    row("interval", none, Interval, "45", true, "0 45 0 0 0");
    // Regression: a changed interval was taken unclamped; 0 refreshed back to back.
    row("interval 0 clamped", none, Interval, 0, true, "0 10 0 0 0");
    row("interval above range clamped", none, Interval, 5000, true, "0 1440 0 0 0");
    row("interval clamped to the held value", {{Interval, 10}}, Interval, 5, false, "0 10 0 0 0");
    row("interval not a number", none, Interval, "soon", false, "0 180 0 0 0");
    row("interval far below range clamped", none, Interval, -1, true, "0 10 0 0 0");
    row("interval as bytes", none, Interval, QByteArray("45"), false, "0 180 0 0 0");
    row("key in other case", none, "refresh/automatic", true, false, "0 180 0 0 0");
    // Regression: QVariant::toBool() read any text but "false" and "0", and any bytes, as true.
    row("flag from other text", none, Automatic, "no", false, "0 180 0 0 0");
    row("flag from bytes", none, OnlyWifi, QByteArray("true"), false, "0 180 0 0 0");
    row("flag from a number other than 0 and 1", none, EnclosureAutomatic, -1, false, "0 180 0 0 0");
    row("flag from 1", none, OnlyWifi, 1, true, "0 180 1 0 0");
    row("flag from text in capitals", none, EnclosureAutomatic, "TRUE", true, "0 180 0 1 0");
    row("flag off from text 0", {{EnclosureOnlyWifi, true}}, EnclosureOnlyWifi, "0", true, "0 180 0 0 0");
    row("enclosure automatic on", none, EnclosureAutomatic, true, true, "0 180 0 1 0");
    row("enclosure only wifi already on", {{EnclosureOnlyWifi, true}}, EnclosureOnlyWifi, "true", false,
        "0 180 0 0 1");
}

void tst_FeedSettingsManager::loadAndChange()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, changed);
    QFETCH(QString, expected);

    QSettings settings(_folder.path() + QStringLiteral("/settings.conf"), QSettings::IniFormat);
    settings.clear();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        settings.setValue(it.key(), it.value());
    FeedSettingsManager* manager = FeedSettingsManager::instance();
    manager->loadSettings(&settings);
    // Each holder refuses the other's keys; the warnings are checked through setConf.
    if (!key.isEmpty()) {
        const bool enclosure = key.startsWith(QLatin1String("Enclosure"));
        const bool refreshChanged = manager->changeRefreshSetting(key, value);
        const bool enclosureChanged = manager->changeEnclosureSetting(key, value);
        QCOMPARE(enclosure ? enclosureChanged : refreshChanged, changed);
        QVERIFY(!(enclosure ? refreshChanged : enclosureChanged));
    }
    QCOMPARE(cached(), expected);
}

// What setConf stores: the value in use, in its own type.
void tst_FeedSettingsManager::heldValues()
{
    QSettings settings(_folder.path() + QStringLiteral("/settings.conf"), QSettings::IniFormat);
    settings.clear();
    settings.setValue(Interval, 2000);
    settings.setValue(Automatic, QStringLiteral("true"));
    FeedSettingsManager* manager = FeedSettingsManager::instance();
    manager->loadSettings(&settings);
    QCOMPARE(manager->value(Interval), QVariant(1440));
    QCOMPARE(manager->value(Automatic), QVariant(true));
    QCOMPARE(manager->value(EnclosureOnlyWifi), QVariant(false));
    QVERIFY(!manager->value(QStringLiteral("Cache/posts")).isValid());
}

VIRELON_TEST_MAIN(tst_FeedSettingsManager)
#include "tst_feedsettingsmanager.moc"

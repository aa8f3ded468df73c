#include "testenvironment.h"
#include "virelon.h"

#include <QBitArray>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include <memory>

namespace {

const QString Service = QStringLiteral("com.vorlane.Virelon");
const QString Interface = QStringLiteral("com.vorlane.Virelon");

// VIRELON_TEST_TIMEOUT_MS stretches every wait on a slow machine.
int timeout()
{
    const int configured = qEnvironmentVariableIntValue("VIRELON_TEST_TIMEOUT_MS");
    return configured > 0 ? configured : 10000;
}

// The interface as clients see it; the text is part of the interface, to the character.
const QString ExpectedIntrospection = QStringLiteral(R"(  <interface name="com.vorlane.Virelon">
    <method name="subscribe">
      <arg direction="in" type="as" name="links"/>
      <arg direction="in" type="s" name="pluginType"/>
    </method>
    <method name="unsubscribe">
      <arg direction="in" type="s" name="uri"/>
    </method>
    <method name="setConf">
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.In0"/>
      <arg direction="in" type="a{sv}" name="settings"/>
    </method>
    <method name="conf">
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.Out0"/>
      <arg direction="out" type="a{sv}"/>
    </method>
    <method name="channelStatus">
      <arg direction="in" type="as" name="channelUriList"/>
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.Out0"/>
      <arg direction="out" type="a{sv}"/>
    </method>
    <method name="enclosureStatus">
      <arg direction="in" type="as" name="enclosureUriList"/>
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.Out0"/>
      <arg direction="out" type="a{sv}"/>
    </method>
    <method name="refresh">
      <arg direction="in" type="as" name="uriList"/>
    </method>
    <method name="cancelRefresh">
      <arg direction="in" type="as" name="uriList"/>
    </method>
    <method name="downloadEnclosure">
      <arg direction="in" type="s" name="channelUri"/>
      <arg direction="in" type="as" name="enclosureUriList"/>
    </method>
    <method name="cancelDownloadEnclosure">
      <arg direction="in" type="s" name="channelUri"/>
      <arg direction="in" type="as" name="enclosureUriList"/>
    </method>
    <method name="pauseDownloadEnclosure">
      <arg direction="in" type="s" name="channelUri"/>
      <arg direction="in" type="as" name="enclosureUriList"/>
    </method>
    <method name="resumeDownloadEnclosure">
      <arg direction="in" type="s" name="channelUri"/>
      <arg direction="in" type="as" name="enclosureUriList"/>
    </method>
    <method name="registerEnclosureDownloadProgress">
      <arg direction="in" type="s" name="enclosureUri"/>
    </method>
    <method name="cancelEnclosureDownloadProgress">
      <arg direction="in" type="s" name="enclosureUri"/>
    </method>
    <method name="editChannel">
      <arg direction="in" type="s" name="channelUri"/>
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.In1"/>
      <arg direction="in" type="a{sv}"/>
    </method>
    <method name="state">
      <arg direction="out" type="i"/>
    </method>
    <method name="transferDetails">
      <arg direction="in" type="s" name="transferId"/>
      <arg direction="in" type="as" name="fields"/>
      <annotation value="QVariantMap" name="com.trolltech.QtDBus.QtTypeName.Out0"/>
      <arg direction="out" type="a{sv}"/>
    </method>
    <signal name="refreshStarted">
      <arg direction="out" type="s" name="channelUri"/>
    </signal>
    <signal name="refreshCompleted">
      <arg direction="out" type="s" name="channelUri"/>
    </signal>
    <signal name="refreshError">
      <arg direction="out" type="s" name="channelUri"/>
      <arg direction="out" type="i" name="errorCode"/>
    </signal>
    <signal name="refreshState">
      <arg direction="out" type="i" name="state"/>
    </signal>
    <signal name="enclosureDownloadStarted">
      <arg direction="out" type="s" name="enclosureUri"/>
    </signal>
    <signal name="enclosureDownloadCompleted">
      <arg direction="out" type="s" name="enclosureUri"/>
      <arg direction="out" type="x" name="timeElapsed"/>
    </signal>
    <signal name="enclosureDownloadError">
      <arg direction="out" type="as" name="enclosureUriList"/>
      <arg direction="out" type="i" name="errorCode"/>
      <arg direction="out" type="x" name="timeElapsed"/>
    </signal>
    <signal name="enclosureDownloadProgress">
      <arg direction="out" type="s" name="enclosureUri"/>
      <arg direction="out" type="x" name="totalSize"/>
      <arg direction="out" type="x" name="downloadedSize"/>
      <arg direction="out" type="x" name="timeRemaining"/>
    </signal>
    <signal name="editChannelStatus">
      <arg direction="out" type="s" name="channelUri"/>
      <arg direction="out" type="i" name="errorCode"/>
    </signal>
  </interface>
)");

// One line of the daemon's log as the logger writes it: "<time> <level>: <category>", then the
// source path, line number, signature, function and message, each on a line of its own.
struct LogEntry
{
    QChar level;
    QString source;
    QString function;
    QString message;
};

QList<LogEntry> parseLog(const QByteArray& output)
{
    static const QRegularExpression header(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\S+ ([DIWCF]): "));
    QList<LogEntry> entries;
    QStringList lines;
    const auto flush = [&] {
        if (lines.size() >= 6)
            entries.append({lines[0].at(0), lines[1], lines[4], lines.mid(5).join(QLatin1Char('\n'))});
        lines.clear();
    };
    QStringList outputLines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    if (outputLines.last().isEmpty())
        outputLines.removeLast();
    for (const QString& line : qAsConst(outputLines)) {
        const QRegularExpressionMatch match = header.match(line);
        if (match.hasMatch()) {
            flush();
            lines << match.captured(1);
        } else if (!lines.isEmpty()) {
            lines << line;
        }
    }
    flush();
    return entries;
}

QStringList messages(const QList<LogEntry>& entries, QChar level, const QString& function = QString())
{
    QStringList found;
    for (const LogEntry& entry : entries)
        if (entry.level == level && (function.isEmpty() || entry.function == function))
            found << entry.message;
    return found;
}

// The built daemon as a child process, with its log.
class Daemon
{
public:
    explicit Daemon(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        _process.setProcessEnvironment(environment);
        _process.start(QStringLiteral(VIRELON_BINARY), QStringList());
        _process.waitForStarted(timeout());
    }
    ~Daemon() { stop(); }

    bool waitForExit() { return _process.waitForFinished(timeout()); }
    int exitCode() const { return _process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return _process.exitStatus(); }

    void kill()
    {
        _process.kill();
        _process.waitForFinished(timeout());
    }

    void stop()
    {
        if (_process.state() == QProcess::NotRunning)
            return;
        _process.terminate();
        _process.waitForFinished(timeout());
    }

    QList<LogEntry> log()
    {
        _output += _process.readAllStandardError();
        return parseLog(_output);
    }

private:
    QProcess _process;
    QByteArray _output;
};

QDBusMessage call(const QString& method, const QVariantList& arguments = QVariantList())
{
    QDBusMessage message = QDBusMessage::createMethodCall(Service, QStringLiteral("/"), Interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, timeout());
}

bool serving()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(Service);
}

QVariantMap conf()
{
    const QDBusReply<QVariantMap> reply = call(QStringLiteral("conf"));
    return reply.value();
}

// Values with their types, one line each: after a restart they must come back as text.
QStringList describe(const QVariantMap& map)
{
    QStringList lines;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        lines << it.key() + QLatin1Char('=') + QLatin1String(it.value().typeName()) + QLatin1Char(':')
                     + it.value().toString();
    return lines;
}

QVariantMap asText(const QVariantMap& map)
{
    QVariantMap text;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        text.insert(it.key(), it.value().toString());
    return text;
}

const QVariantMap ShippedDefaults = {
    {QStringLiteral("Cache/posts"), QStringLiteral("100")},
    {QStringLiteral("Enclosure/automatic"), QStringLiteral("false")},
    {QStringLiteral("Enclosure/onlywifi"), QStringLiteral("false")},
    {QStringLiteral("Refresh/automatic"), QStringLiteral("false")},
    {QStringLiteral("Refresh/interval"), QStringLiteral("180")},
    {QStringLiteral("Refresh/onlywifi"), QStringLiteral("false")},
};

} // namespace

// Every test gets a bus of its own making: ctest runs test programs side by side on one shared
// bus, and the service name can have only one owner.
class tst_Virelon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void startFails_data();
    void startFails();
    void introspection();
    void methodsReachSlots_data();
    void methodsReachSlots();
    void firstStartCopiesDefaults();
    void configDirWithTrailingSlash();
    void noDefaultsNoKeys();
    void userFileIsKept();
    void setConf_data();
    void setConf();
    void changeSurvivesKill();
    void unsendableValues();
    void errorStoresAcrossRestart();
    void settingsKeyEscaping_data();
    void settingsKeyEscaping();

private:
    QString systemDir() const { return qEnvironmentVariable("VIRELON_CONFIG_DIR"); }
    QString userFile() const
    {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/virelon/settings.conf");
    }
    void installDefaults(const QByteArray& extra = QByteArray());
    // Waits until every line that the daemon logged before this call has been read.
    QList<LogEntry> settledLog(Daemon& daemon);

    QProcess _bus;
};

void tst_Virelon::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    _bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=" PRIVATE_BUS_CONFIG),
                                               QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    QVERIFY(_bus.waitForReadyRead(timeout()));
    qputenv("DBUS_SESSION_BUS_ADDRESS", _bus.readLine().trimmed());
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    qputenv("VIRELON_CONFIG_DIR",
            QFile::encodeName(qEnvironmentVariable("XDG_CONFIG_DIRS") + QStringLiteral("/virelon")));
}

void tst_Virelon::cleanupTestCase()
{
    _bus.terminate();
    _bus.waitForFinished(timeout());
}

void tst_Virelon::init()
{
    QVERIFY(QDir(systemDir()).removeRecursively());
    QVERIFY(QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/virelon")).removeRecursively());
    QVERIFY(QDir().mkpath(systemDir()));
    QTRY_VERIFY_WITH_TIMEOUT(!serving(), timeout());
}

void tst_Virelon::cleanup()
{
    QDBusConnection::sessionBus().unregisterService(Service);
}

void tst_Virelon::installDefaults(const QByteArray& extra)
{
    QFile shipped(QStringLiteral(SHIPPED_SETTINGS));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QFile file(systemDir() + QStringLiteral("/settings.conf"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(shipped.readAll() + '\n' + extra);
}

QList<LogEntry> tst_Virelon::settledLog(Daemon& daemon)
{
    const auto marks = [&daemon] {
        return messages(daemon.log(), QLatin1Char('D'), QStringLiteral("conf"))
            .filter(QStringLiteral("Returning settings:"))
            .size();
    };
    const int before = marks();
    conf();
    if (!QTest::qWaitFor([&] { return marks() > before; }, timeout()))
        QTest::qFail("The daemon's log did not settle", __FILE__, __LINE__);
    return daemon.log();
}

void tst_Virelon::startFails_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("a daemon already runs") << QStringLiteral("daemon");
    QTest::newRow("another client owns the name") << QStringLiteral("client");
    QTest::newRow("no session bus") << QStringLiteral("no bus");
}

void tst_Virelon::startFails()
{
    QFETCH(QString, obstacle);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<Daemon> first;
    if (obstacle == QLatin1String("daemon")) {
        first.reset(new Daemon);
        QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    }
    if (obstacle == QLatin1String("client"))
        QVERIFY(QDBusConnection::sessionBus().registerService(Service));
    if (obstacle == QLatin1String("no bus"))
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") + systemDir() + QStringLiteral("/no-bus"));

    Daemon second(environment);
    QVERIFY(second.waitForExit());
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    const QList<LogEntry> log = second.log();
    QCOMPARE(messages(log, QLatin1Char('C'), QStringLiteral("start")),
             QStringList{QStringLiteral("dbus registration failed !")});
    QCOMPARE(messages(log, QLatin1Char('C'), QStringLiteral("main")),
             QStringList{QStringLiteral("Exiting: Virelon start failed !")});
    QVERIFY(log.last().source == QLatin1String("src/main"));
    QVERIFY(messages(log, QLatin1Char('D')).filter(QStringLiteral("started successfully")).isEmpty());

    if (obstacle == QLatin1String("daemon"))
        QVERIFY(serving());
}

void tst_Virelon::introspection()
{
    Daemon daemon;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    const QDBusMessage reply = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(Service, QStringLiteral("/"),
                                       QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                       QStringLiteral("Introspect")),
        QDBus::Block, timeout());
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    const QString node = reply.arguments().value(0).toString();
    const int begin = node.indexOf(QStringLiteral("  <interface name=\"com.vorlane.Virelon\">"));
    QVERIFY2(begin >= 0, qPrintable(node));
    const QString closing = QStringLiteral("  </interface>\n");
    const int end = node.indexOf(closing, begin) + closing.size();
    QCOMPARE(node.mid(begin, end - begin), ExpectedIntrospection);
    QCOMPARE(node.count(QStringLiteral("com.vorlane.Virelon")), 1);
}

void tst_Virelon::methodsReachSlots_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QVariantList>("arguments");
    QTest::addColumn<QString>("replySignature");
    QTest::addColumn<bool>("reachesSlot");

    const QString channel = QStringLiteral("urn:uuid:channel");
    const QString enclosure = QStringLiteral("urn:uuid:enclosure");
    const QStringList uris = {channel};
    const QStringList enclosures = {enclosure};
    const QVariantMap properties = {{QStringLiteral("2"), QStringLiteral("A title")}};
    const auto row = [](const char* method, const QVariantList& arguments, const char* signature = "",
                        bool reachesSlot = true) {
        QTest::newRow(method) << QString::fromLatin1(method) << arguments << QString::fromLatin1(signature)
                              << reachesSlot;
    };
    row("subscribe", {QStringList{QStringLiteral("http://127.0.0.1/feed")}, QStringLiteral("tamsil")});
    row("unsubscribe", {channel});
    row("setConf", {QVariantMap()});
    row("conf", {}, "a{sv}");
    row("channelStatus", {uris}, "a{sv}");
    row("enclosureStatus", {enclosures}, "a{sv}");
    row("refresh", {uris});
    row("cancelRefresh", {uris});
    row("downloadEnclosure", {channel, enclosures});
    row("cancelDownloadEnclosure", {channel, enclosures});
    row("pauseDownloadEnclosure", {channel, enclosures});
    row("resumeDownloadEnclosure", {channel, enclosures});
    row("registerEnclosureDownloadProgress", {enclosure}, "", false);
    row("cancelEnclosureDownloadProgress", {enclosure}, "", false);
    row("editChannel", {channel, properties});
    row("state", {}, "i");
    row("transferDetails", {QStringLiteral("7"), QStringList{QStringLiteral("1")}}, "a{sv}");
}

void tst_Virelon::methodsReachSlots()
{
    QFETCH(QString, method);
    QFETCH(QVariantList, arguments);
    QFETCH(QString, replySignature);
    QFETCH(bool, reachesSlot);

    Daemon daemon;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    // Log entries of the service slot named like the method, settling the log first.
    const auto reachedSince = [&](int mark) {
        int reached = 0;
        for (const LogEntry& entry : settledLog(daemon).mid(mark))
            reached += entry.source == QLatin1String("src/virelon") && entry.function == method;
        return reached;
    };
    const int settling = reachedSince(daemon.log().size());

    int mark = daemon.log().size();
    const QDBusMessage reply = call(method, arguments);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QCOMPARE(reply.signature(), replySignature);
    QCOMPARE(reachedSince(mark) > settling, reachesSlot);

    // A call that does not match the interface is Qt D-Bus's to refuse; it reaches no slot.
    mark = daemon.log().size();
    arguments.append(QStringLiteral("surplus"));
    QCOMPARE(call(method, arguments).type(), QDBusMessage::ErrorMessage);
    QCOMPARE(reachedSince(mark), settling);
}

void tst_Virelon::firstStartCopiesDefaults()
{
    installDefaults();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The configuration folder alone says where the system-wide defaults are.
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), QDir::tempPath() + QStringLiteral("/virelon-nowhere"));
    QByteArray copied;
    {
        Daemon daemon(environment);
        QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
        QVERIFY(QFile::exists(userFile()));
        QFile file(userFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        copied = file.readAll();
        QSettings user(userFile(), QSettings::IniFormat);
        QVariantMap stored;
        for (const QString& key : user.allKeys())
            stored.insert(key, user.value(key));
        QCOMPARE(describe(stored), describe(ShippedDefaults));
        QCOMPARE(describe(conf()), describe(ShippedDefaults));
        // The text "Copy settings: " keeps its own blank; the log stream adds one before the value.
        QCOMPARE(messages(settledLog(daemon), QLatin1Char('D'), QStringLiteral("initSettings"))
                     .filter(QStringLiteral("Copy settings:")),
                 QStringList{QStringLiteral("Copy settings:  true")});
    }

    // Later changes of the system file reach the user only as keys the user file lacks.
    installDefaults("[Extra]\nkey=added\n");
    QSettings(systemDir() + QStringLiteral("/settings.conf"), QSettings::IniFormat)
        .setValue(QStringLiteral("Refresh/interval"), 60);
    Daemon daemon(environment);
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QVariantMap expected = ShippedDefaults;
    expected.insert(QStringLiteral("Extra/key"), QStringLiteral("added"));
    QCOMPARE(describe(conf()), describe(expected));
    const QList<LogEntry> log = settledLog(daemon);
    QCOMPARE(messages(log, QLatin1Char('D'), QStringLiteral("copySystemSettings")),
             QStringList{QStringLiteral("Returning: Settings file exists in user space")});
    QCOMPARE(messages(log, QLatin1Char('D'), QStringLiteral("initSettings")).filter(QStringLiteral("Copy settings:")),
             QStringList{QStringLiteral("Copy settings:  false")});
    QFile file(userFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), copied);
}

void tst_Virelon::configDirWithTrailingSlash()
{
    installDefaults();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_CONFIG_DIR"), systemDir() + QStringLiteral("/"));
    Daemon daemon(environment);
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QCOMPARE(describe(conf()), describe(ShippedDefaults));
    QCOMPARE(messages(settledLog(daemon), QLatin1Char('W')), QStringList());
}

void tst_Virelon::noDefaultsNoKeys()
{
    Daemon daemon;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QCOMPARE(conf(), QVariantMap());
    const int mark = settledLog(daemon).size();
    QCOMPARE(call(QStringLiteral("setConf"), {QVariantMap{{QStringLiteral("Refresh/automatic"), true}}}).type(),
             QDBusMessage::ReplyMessage);
    const QList<LogEntry> log = settledLog(daemon);
    QCOMPARE(messages(log.mid(mark), QLatin1Char('W')),
             QStringList{QStringLiteral("Not found key: \"Refresh/automatic\"")});
    QCOMPARE(messages(log, QLatin1Char('D'), QStringLiteral("initSettings")).filter(QStringLiteral("Copy settings:")),
             QStringList{QStringLiteral("Copy settings:  true")});
    QCOMPARE(conf(), QVariantMap());
    QVERIFY(!QFile::exists(userFile()));
}

void tst_Virelon::userFileIsKept()
{
    installDefaults();
    QVERIFY(QDir().mkpath(QFileInfo(userFile()).path()));
    QFile file(userFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Refresh]\ninterval=60\n");
    file.close();

    Daemon daemon;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QVariantMap expected = ShippedDefaults;
    expected.insert(QStringLiteral("Refresh/interval"), QStringLiteral("60"));
    QCOMPARE(describe(conf()), describe(expected));
    QCOMPARE(messages(settledLog(daemon), QLatin1Char('D'), QStringLiteral("initSettings"))
                 .filter(QStringLiteral("Copy settings:")),
             QStringList{QStringLiteral("Copy settings:  false")});
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("[Refresh]\ninterval=60\n"));
}

void tst_Virelon::setConf_data()
{
    QTest::addColumn<QVariantMap>("change");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QVariantMap>("stored");

    const QString automatic = QStringLiteral("Refresh/automatic");
    const QString interval = QStringLiteral("Refresh/interval");
    const QString refused = QStringLiteral("Cannot change to required setting");
    QTest::newRow("automatic refresh on")
        << QVariantMap{{automatic, true}} << QStringList() << QVariantMap{{automatic, true}};
    QTest::newRow("value already held") << QVariantMap{{automatic, false}} << QStringList{refused} << QVariantMap();
    QTest::newRow("unknown key") << QVariantMap{{QStringLiteral("Refresh/auto"), true}}
                                 << QStringList{QStringLiteral("Not found key: \"Refresh/auto\"")} << QVariantMap();
    QTest::newRow("interval") << QVariantMap{{interval, 60}} << QStringList() << QVariantMap{{interval, 60}};
    QTest::newRow("interval out of range is kept as sent")
        << QVariantMap{{interval, 0}} << QStringList() << QVariantMap{{interval, 0}};
    QTest::newRow("interval not a number")
        << QVariantMap{{interval, QStringLiteral("soon")}} << QStringList{refused} << QVariantMap();
    QTest::newRow("only wifi") << QVariantMap{{QStringLiteral("Refresh/onlywifi"), true}} << QStringList()
                               << QVariantMap{{QStringLiteral("Refresh/onlywifi"), true}};
    QTest::newRow("enclosure automatic") << QVariantMap{{QStringLiteral("Enclosure/automatic"), QStringLiteral("true")}}
                                         << QStringList() << QVariantMap{{QStringLiteral("Enclosure/automatic"), true}};
    QTest::newRow("enclosure value already held")
        << QVariantMap{{QStringLiteral("Enclosure/onlywifi"), false}}
        << QStringList{QStringLiteral("No Change in settings!!!")} << QVariantMap();
    QTest::newRow("cache limit not yet held")
        << QVariantMap{{QStringLiteral("Cache/posts"), 200}}
        << QStringList{QStringLiteral("Cache settings are not changed")} << QVariantMap();
    QTest::newRow("key of no holder") << QVariantMap{{QStringLiteral("Display/colour"), QStringLiteral("red")}}
                                      << QStringList() << QVariantMap();
    QTest::newRow("nested value") << QVariantMap{{automatic, QVariantMap{{QStringLiteral("a"), 1}}}}
                                  << QStringList{QStringLiteral("Not a plain value for key: \"Refresh/automatic\"")}
                                  << QVariantMap();
    QTest::newRow("several keys in key order")
        << QVariantMap{{QStringLiteral("Refresh/onlywifi"), true},
                       {QStringLiteral("Foo/bar"), 1},
                       {interval, 30},
                       {automatic, false}}
        << QStringList{QStringLiteral("Not found key: \"Foo/bar\""), refused}
        << QVariantMap{{interval, 30}, {QStringLiteral("Refresh/onlywifi"), true}};
}

void tst_Virelon::setConf()
{
    QFETCH(QVariantMap, change);
    QFETCH(QStringList, warnings);
    QFETCH(QVariantMap, stored);

    installDefaults("[Display]\ncolour=blue\n");
    QVariantMap expected = ShippedDefaults;
    expected.insert(QStringLiteral("Display/colour"), QStringLiteral("blue"));
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        expected.insert(it.key(), it.value().toString());
    {
        Daemon daemon;
        QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
        const int mark = settledLog(daemon).size();
        QCOMPARE(call(QStringLiteral("setConf"), {change}).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(messages(settledLog(daemon).mid(mark), QLatin1Char('W')), warnings);
    }
    Daemon restarted;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QCOMPARE(describe(conf()), describe(asText(expected)));
}

// The daemon has no quit handler: a change must be on disk when the reply goes out.
void tst_Virelon::changeSurvivesKill()
{
    installDefaults();
    {
        Daemon daemon;
        QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
        const QVariantMap change = {{QStringLiteral("Refresh/interval"), 45}};
        QCOMPARE(call(QStringLiteral("setConf"), {change}).type(), QDBusMessage::ReplyMessage);
        daemon.kill();
    }
    Daemon restarted;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    QCOMPARE(conf().value(QStringLiteral("Refresh/interval")), QVariant(QStringLiteral("45")));
}

// A value that the settings file cannot give back as something D-Bus carries must stay out of
// the reply of conf: one such value would take the whole reply, and the daemon, down.
void tst_Virelon::unsendableValues()
{
    installDefaults();
    {
        QSettings system(systemDir() + QStringLiteral("/settings.conf"), QSettings::IniFormat);
        system.setValue(QStringLiteral("Display/nothing"), QVariant());
        system.setValue(QStringLiteral("Display/bits"), QBitArray(3, true));
        system.setValue(QStringLiteral("Display/sizes"), QVariantList{1, QVariant()});
    }
    const QString automatic = QStringLiteral("Enclosure/automatic");
    {
        Daemon daemon;
        QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
        QCOMPARE(call(QStringLiteral("setConf"), {QVariantMap{{automatic, true}}}).type(), QDBusMessage::ReplyMessage);
        const int mark = settledLog(daemon).size();
        // A file writes an empty list as no value.
        QCOMPARE(call(QStringLiteral("setConf"), {QVariantMap{{automatic, QStringList()}}}).type(),
                 QDBusMessage::ReplyMessage);
        QCOMPARE(messages(settledLog(daemon).mid(mark), QLatin1Char('W'), QStringLiteral("setConf")),
                 QStringList{QStringLiteral("Not a plain value for key: \"Enclosure/automatic\"")});
    }
    Daemon restarted;
    QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
    const QDBusMessage reply = call(QStringLiteral("conf"));
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    QVariantMap expected = ShippedDefaults;
    expected.insert(automatic, QStringLiteral("true"));
    QCOMPARE(describe(qdbus_cast<QVariantMap>(reply.arguments().value(0))), describe(expected));
    QCOMPARE(messages(settledLog(restarted), QLatin1Char('W'), QStringLiteral("conf")).mid(0, 3),
             QStringList({QStringLiteral("Not a plain value for key: \"Display/bits\""),
                          QStringLiteral("Not a plain value for key: \"Display/nothing\""),
                          QStringLiteral("Not a plain value for key: \"Display/sizes\"")}));
}

void tst_Virelon::errorStoresAcrossRestart()
{
    const QString channel = QStringLiteral("urn:uuid:channel/1");
    const QString enclosure = QStringLiteral("urn:uuid:enclosure/1");
    Virelon* service = Virelon::instance();
    {
        QSettings errors(QStringLiteral("virelon"), QStringLiteral("errors"));
        errors.setValue(service->escapeSettingsKey(channel), 404);
        QSettings enclosureErrors(QStringLiteral("virelon"), QStringLiteral("enclosureErrors"));
        enclosureErrors.setValue(service->escapeSettingsKey(enclosure), 500);
    }
    const auto keysOf = [](const QString& application) {
        return QSettings(QStringLiteral("virelon"), application).allKeys();
    };
    for (int start = 0; start < 2; ++start) {
        Daemon daemon;
        QTRY_VERIFY_WITH_TIMEOUT(serving(), timeout());
        QTRY_VERIFY_WITH_TIMEOUT(keysOf(QStringLiteral("enclosureErrors")).isEmpty(), timeout());
        QCOMPARE(keysOf(QStringLiteral("errors")), QStringList{service->escapeSettingsKey(channel)});
    }
    QCOMPARE(QSettings(QStringLiteral("virelon"), QStringLiteral("errors"))
                 .value(service->escapeSettingsKey(channel))
                 .toInt(),
             404);
}

void tst_Virelon::settingsKeyEscaping_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("escaped");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("two slashes") << QStringLiteral("urn:a/b/c") << QStringLiteral("urn:a!b!c")
                                 << QStringLiteral("urn:a/b/c");
    QTest::newRow("no slash") << QStringLiteral("urn:uuid:1") << QStringLiteral("urn:uuid:1")
                              << QStringLiteral("urn:uuid:1");
    QTest::newRow("feed link") << QStringLiteral("http://127.0.0.1/a b/feed?x=1&y=2")
                               << QStringLiteral("http:!!127.0.0.1!a b!feed?x=1&y=2")
                               << QStringLiteral("http://127.0.0.1/a b/feed?x=1&y=2");
    QTest::newRow("exclamation mark") << QStringLiteral("urn:wow!/x") << QStringLiteral("urn:wow!!x")
                                      << QStringLiteral("urn:wow//x");
}

void tst_Virelon::settingsKeyEscaping()
{
    QFETCH(QString, uri);
    QFETCH(QString, escaped);
    QFETCH(QString, readBack);

    const Virelon* service = Virelon::instance();
    QCOMPARE(service->escapeSettingsKey(uri), escaped);
    QCOMPARE(service->unescapeSettingsKey(escaped), readBack);

    // The escaped key stays one key in a settings file, not a group path.
    const QString path = qEnvironmentVariable("HOME") + QStringLiteral("/escaping.conf");
    QFile::remove(path);
    {
        QSettings store(path, QSettings::NativeFormat);
        store.setValue(escaped, 404);
    }
    QSettings store(path, QSettings::NativeFormat);
    QCOMPARE(store.childKeys(), QStringList{escaped});
    QCOMPARE(service->unescapeSettingsKey(store.childKeys().first()), readBack);
}

VIRELON_TEST_MAIN(tst_Virelon)
#include "tst_virelon.moc"

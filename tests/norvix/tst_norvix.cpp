#include "casefile.h"
#include "daemonfixture.h"
#include "feedtrackersparql.h"
#include "httpfixture.h"
#include "storeendpoint.h"
#include "testenvironment.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <qsparqlconnection.h>
#include <qsparqlquery.h>
#include <qsparqlresult.h>
#include <signal.h>
#include <virelonpaths.h>

namespace {

// The tool writes "unknown" as its lines' source file; the store's lines carry their own.
const QString MessagePattern = QStringLiteral("%{file}|%{message}");
const QString ToolLine = QStringLiteral("unknown|");

QtMessageHandler previousHandler = nullptr;

// The test's own store lines (filling the store) are noise; VIRELON_TEST_SHOW_LOG shows them.
void quietStoreHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.startsWith(QLatin1String("Tracker\n")) || qEnvironmentVariableIsSet("VIRELON_TEST_SHOW_LOG"))
        previousHandler(type, context, message);
}

struct Run
{
    int status = -1;
    QStringList lines; // the tool's own, without the source prefix
    QString output;    // all of standard error
};

// Sends SIGCONT when it goes, so that a failing test never leaves the daemon stopped.
class StoppedProcess
{
public:
    explicit StoppedProcess(qint64 pid)
        : _pid(pid)
    {
        ::kill(pid_t(_pid), SIGSTOP);
    }
    ~StoppedProcess() { resume(); }
    void resume()
    {
        if (_pid)
            ::kill(pid_t(_pid), SIGCONT);
        _pid = 0;
    }

private:
    qint64 _pid;
};

// What the server gives for E, and for the one item of feed F.
const QByteArray EnclosureBody(4096, 'e');

QByteArray feed(const QUrl& enclosure)
{
    return QByteArrayLiteral("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>F</title>"
                             "<link>http://example.com/</link><item><title>One</title><link>http://example.com/1</link>"
                             "<enclosure url=\"")
        + enclosure.toEncoded() + QByteArrayLiteral("\" length=\"4096\" type=\"audio/mpeg\"/></item></channel></rss>");
}

} // namespace

// The built tool against the real daemon and a store of the test's own on a private bus. The
// cases are in norvix.cases; each runs on a store filled afresh.
class tst_Norvix : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void cases_data();
    void cases();
    void usageText();
    void callOutlastsStoppedDaemon();
    void watchHearsLaterDaemon();

private:
    Run runTool(const QStringList& arguments, const QString& env = QStringLiteral("daemon"));
    void fillStore();
    void emptyStore();
    void resetSettings();
    bool restartDaemon();
    QStringList column(const QString& query);
    QStringList snapshot();
    bool check(const QString& condition, const Run& run, int logMark, QString* failure);
    bool checkStore(const QStringList& words, QString* failure);
    bool checkDaemon(const QStringList& words, const QString& condition, int logMark, QString* failure);
    bool checkTool(const QStringList& words, const Run& run, QString* failure);
    bool checkFixture(const QStringList& words, QString* failure);
    void serveEnclosure(HttpFixture::Delivery delivery);
    QString messageUri(const QString& channel, const QString& link);
    QString makeFile(const QString& path);
    bool startFailingStore();

    QProcess _bus;
    QProcess _emptyBus;
    QString _emptyBusAddress;
    std::unique_ptr<StoreEndpoint> _endpoint;
    QProcess _failingStore;
    QString _failingStoreService;
    std::unique_ptr<QSparqlConnection> _raw;
    std::unique_ptr<Daemon> _daemon;
    std::unique_ptr<SignalRecorder> _recorder;
    HttpFixture _http;
    QMap<QString, QString> _values;
    QStringList _before;
    // Where the daemon's log stood when the running case began.
    int _caseLog = 0;
};

void tst_Norvix::initTestCase()
{
    previousHandler = qInstallMessageHandler(quietStoreHandler);
    TestEnvironment::failOnConnectWarnings();
    QVERIFY2(StoreEndpoint::startBus(&_bus, QStringLiteral(PRIVATE_BUS_CONFIG)), "the private bus did not start");
    const QByteArray mainBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QVERIFY(StoreEndpoint::startBus(&_emptyBus, QStringLiteral(PRIVATE_BUS_CONFIG)));
    _emptyBusAddress = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", mainBus);

    _endpoint.reset(new StoreEndpoint(QDir::homePath() + QStringLiteral("/store")));
    QVERIFY2(_endpoint->start(), "the store service did not start");
    _raw.reset(new QSparqlConnection(QStringLiteral("QTRACKER_DIRECT")));
    QVERIFY(_raw->isValid());
    QVERIFY2(startFailingStore(), "the failing store service did not start");

    qputenv("VIRELON_CONFIG_DIR", QStringLiteral(CONFIG_DIR).toUtf8());
    qputenv("VIRELON_PLUGIN_DIR", QStringLiteral(TAMSIL_DIR).toUtf8());
    qputenv("VIRELON_TAMSIL_DATA_DIR", QStringLiteral(TAMSIL_DIR).toUtf8());
    qputenv("VIRELON_COMM_DIR", QFile::encodeName(QDir::homePath()));
    _recorder.reset(new SignalRecorder);
    _daemon.reset(new Daemon);
    QVERIFY2(_daemon->waitForService(), _daemon->log().constData());

    serveEnclosure(HttpFixture::Whole);
    _http.serve(QStringLiteral("/feed.xml"), feed(_http.url(QStringLiteral("/e.mp3"))), "application/rss+xml");
}

void tst_Norvix::cleanupTestCase()
{
    _daemon.reset();
    FeedTrackerSparql::releaseInstance();
    _raw.reset();
    _endpoint.reset();
    _failingStore.terminate();
    _failingStore.waitForFinished(DaemonFixture::timeout());
    for (QProcess* bus : {&_bus, &_emptyBus}) {
        bus->terminate();
        bus->waitForFinished(DaemonFixture::timeout());
    }
}

// A store service whose ontology has none of the feed classes: it is reached, and every query of
// the feed store fails.
bool tst_Norvix::startFailingStore()
{
    const QString home = QDir::homePath();
    _failingStoreService = _endpoint->serviceName() + QStringLiteral("Failing");
    if (!QDir().mkpath(home + "/nie") || !QFile::link(QStringLiteral(NIE_ONTOLOGY), home + "/nie/30-nie.ontology"))
        return false;
    _failingStore.start(QStringLiteral("tracker3"), {"endpoint", "--database", home + "/failing", "--ontology-path",
                                                     home + "/nie", "--dbus-service", _failingStoreService, "--session"});
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return QTest::qWaitFor([&] { return bus->isServiceRegistered(_failingStoreService); }, DaemonFixture::timeout());
}

// E at once, or its first kilobyte and then silence until the transfer is stopped, or in
// kilobytes a few milliseconds apart.
void tst_Norvix::serveEnclosure(HttpFixture::Delivery delivery)
{
    HttpFixture::Reply reply;
    reply.body = EnclosureBody;
    reply.addHeader("Content-Type", "audio/mpeg");
    reply.delivery = delivery;
    _http.setReply(QStringLiteral("/e.mp3"), reply);
}

void tst_Norvix::cleanup()
{
    if (QTest::currentTestFailed() && _daemon)
        qInfo().noquote() << _daemon->log().mid(_caseLog);
}

Run tst_Norvix::runTool(const QStringList& arguments, const QString& env)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), MessagePattern);
    if (env == QLatin1String("nodaemon"))
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), _emptyBusAddress);
    else if (env == QLatin1String("nobus"))
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") + QDir::homePath() + QStringLiteral("/no-bus"));
    else if (env == QLatin1String("failingstore"))
        environment.insert(QStringLiteral("VIRELON_STORE_SERVICE"), _failingStoreService);
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(NORVIX_BINARY), arguments);
    Run run;
    if (!tool.waitForFinished(DaemonFixture::timeout()) || tool.exitStatus() != QProcess::NormalExit) {
        tool.kill();
        tool.waitForFinished();
        return run;
    }
    run.status = tool.exitCode();
    run.output = QString::fromUtf8(tool.readAllStandardError());
    for (const QString& line : run.output.split(QLatin1Char('\n'))) {
        if (line.startsWith(ToolLine))
            run.lines.append(line.mid(ToolLine.size()));
    }
    return run;
}

QString tst_Norvix::makeFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("data") != 4)
        QTest::qFail(qPrintable(QStringLiteral("cannot write ") + path), __FILE__, __LINE__);
    return path;
}

// Every case starts from the default settings, whatever an earlier one set.
void tst_Norvix::resetSettings()
{
    QSettings defaults(QStringLiteral(CONFIG_DIR "/settings.conf"), QSettings::IniFormat);
    QVariantMap settings;
    for (const QString& key : defaults.allKeys())
        settings.insert(key, defaults.value(key));
    QVERIFY(!settings.isEmpty());
    QCOMPARE(DaemonFixture::call(QStringLiteral("setConf"), {settings}).type(), QDBusMessage::ReplyMessage);
}

bool tst_Norvix::restartDaemon()
{
    _daemon.reset();
    _daemon.reset(new Daemon);
    _caseLog = 0;
    return _daemon->waitForService();
}

QStringList tst_Norvix::column(const QString& query)
{
    std::unique_ptr<QSparqlResult> result(_raw->exec(QSparqlQuery(query)));
    QStringList values;
    if (!result || result->hasError())
        QTest::qFail(qPrintable(QStringLiteral("select failed: ") + query), __FILE__, __LINE__);
    while (result && result->next()) {
        QStringList row;
        for (int i = 0; i < result->current().count(); ++i)
            row.append(result->value(i).toString());
        values.append(row.join(QLatin1Char(' ')));
    }
    return values;
}

QString tst_Norvix::messageUri(const QString& channel, const QString& link)
{
    return column(QStringLiteral("SELECT ?m WHERE { ?m a mfo:FeedMessage; nie:isLogicalPartOf <%1>; nie:links <%2> }")
                      .arg(channel, link))
        .value(0);
}

void tst_Norvix::emptyStore()
{
    for (const char* type : {"mfo:FeedChannel", "mfo:FeedMessage", "mfo:Enclosure", "nie:DataObject"}) {
        std::unique_ptr<QSparqlResult> result(_raw->exec(QSparqlQuery(
            QStringLiteral("DELETE { ?x a rdfs:Resource } WHERE { ?x a %1 }").arg(QLatin1String(type)),
            QSparqlQuery::DeleteStatement)));
        QVERIFY(result && !result->hasError());
    }
    QVERIFY(QDir(QDir::homePath() + QStringLiteral("/MyDocs")).removeRecursively());
    QVERIFY(QDir().mkpath(VirelonPaths::enclosureDir()));
    _values = {{"HTTP", _http.url(QString()).toString()}, {"F", _http.url(QStringLiteral("/feed.xml")).toString()}};
}

// Channel C (feed F, an icon) with messages M1 (enclosure E) and M2 (E2, and O whose local link
// names a file outside the enclosure directory); channel C2 with M3 (E3).
void tst_Norvix::fillStore()
{
    emptyStore();
    FeedTrackerSparql* store = FeedTrackerSparql::instance();
    const QString dir = VirelonPaths::enclosureDir();
    const QString http = _http.url(QString()).toString();
    _values = {{"HTTP", http}, {"F", _http.url(QStringLiteral("/feed.xml")).toString()}, {"F2", http + "/feed2.xml"},
               {"L1", http + "/m1"},  {"L2", http + "/m2"},  {"L3", http + "/m3"}, {"L9", http + "/m9"},
               {"DIR", dir}, {"ICONFILE", makeFile(dir + "/icon.png")}, {"EFILE", makeFile(dir + "/e.mp3")},
               {"EPART", makeFile(dir + "/e2.mp3.part")}, {"E2FILE", makeFile(dir + "/e2.mp3")},
               {"E3FILE", makeFile(dir + "/e3.mp3")},
               {"OUTSIDE", makeFile(QDir::homePath() + QStringLiteral("/Documents/a.odt"))}};
    const auto enclosure = [&](const QString& remote, const QString& local) {
        FeedEnclosure record;
        record.setRemoteUrl(remote);
        record.setLocalUrl(local);
        return record;
    };
    // Media of a message, fetched on request only.
    const auto message = [&](const QString& link, QList<FeedEnclosure> enclosures) {
        for (FeedEnclosure& enclosure : enclosures)
            enclosure.setType(FeedEnclosure::Optional);
        FeedMessage record;
        record.setLink(link);
        record.setTitle(QStringLiteral("title of ") + link);
        record.setEnclosures(enclosures);
        return record;
    };
    FeedChannel channel;
    channel.setLink(_values["F"]);
    channel.setType(QStringLiteral("tamsil"));
    channel.setIcon(enclosure(http + "/icon.png", _values["ICONFILE"]));
    _values["C"] = store->addChannel(channel);
    channel.setLink(_values["F2"]);
    channel.setIcon(FeedEnclosure());
    _values["C2"] = store->addChannel(channel);
    QVERIFY(!_values["C"].isEmpty() && !_values["C2"].isEmpty());
    QVERIFY(store->addMessages({message(_values["L1"], {enclosure(_http.url("/e.mp3").toString(), _values["EFILE"])}),
                                message(_values["L2"], {enclosure(http + "/e2.mp3", dir + "/e2.mp3"),
                                                        enclosure(http + "/a.odt", _values["OUTSIDE"])})},
                               _values["C"]));
    QVERIFY(store->addMessages({message(_values["L3"], {enclosure(http + "/e3.mp3", _values["E3FILE"])})}, _values["C2"]));
    for (const QString& number : {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}) {
        const QString channelUri = number == QLatin1String("3") ? _values["C2"] : _values["C"];
        _values["M" + number] = messageUri(channelUri, _values["L" + number]);
        QVERIFY(!_values["M" + number].isEmpty());
    }
    const auto enclosureUri = [&](const QString& message, const QString& local) {
        for (const FeedEnclosure& record : store->enclosuresForMessage(message)) {
            if (record.localUrl() == local)
                return record.uri();
        }
        return QString();
    };
    _values["E"] = enclosureUri(_values["M1"], _values["EFILE"]);
    _values["E2"] = enclosureUri(_values["M2"], _values["E2FILE"]);
    _values["O"] = enclosureUri(_values["M2"], _values["OUTSIDE"]);
    _values["E3"] = enclosureUri(_values["M3"], _values["E3FILE"]);
    QVERIFY(!_values["E"].isEmpty() && !_values["E2"].isEmpty() && !_values["O"].isEmpty() && !_values["E3"].isEmpty());
}

// The feed nodes with the properties that the tool writes or deletes, and the files it may touch.
QStringList tst_Norvix::snapshot()
{
    QStringList state = column(QStringLiteral(
        "SELECT ?c ?l ?t ?i WHERE { ?c a mfo:FeedChannel . OPTIONAL { ?c nie:links ?l } OPTIONAL { ?c nie:title ?t } "
        "OPTIONAL { ?c mfo:image ?i } }"));
    state += column(QStringLiteral("SELECT ?m ?c ?l ?t ?d WHERE { ?m a mfo:FeedMessage . OPTIONAL { ?m "
                                   "nie:isLogicalPartOf ?c } OPTIONAL { ?m nie:links ?l } OPTIONAL { ?m nie:title ?t } "
                                   "OPTIONAL { ?m nie:contentCreated ?d } }"));
    state += column(QStringLiteral("SELECT ?e ?p ?r ?l WHERE { ?e a mfo:Enclosure . OPTIONAL { ?e nie:isLogicalPartOf "
                                   "?p } OPTIONAL { ?e mfo:remoteLink ?r } OPTIONAL { ?e mfo:localLink ?l } }"));
    state += column(QStringLiteral("SELECT ?d WHERE { ?d a nie:DataObject }"));
    state.sort();
    QDirIterator files(QDir::homePath() + QStringLiteral("/MyDocs"), QDir::Files | QDir::Hidden,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        state.append(files.next());
    state.append(QFile::exists(_values.value("OUTSIDE")) ? "outside kept" : "outside gone");
    const QVariantMap settings = DaemonFixture::call(QStringLiteral("conf")).arguments().value(0).toMap();
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        state.append(QStringLiteral("setting %1=%2").arg(it.key(), it.value().toString()));
    return state;
}

// Waits until every line that the daemon logged before this call has been read.
void tst_Norvix::cases_data()
{
    QTest::addColumn<NorvixCase>("testCase");
    QString error;
    const QList<NorvixCase> cases = CaseFile::read(QStringLiteral(CASE_FILE), &error);
    if (!error.isEmpty())
        QTest::qFail(qPrintable(error), __FILE__, __LINE__);
    for (const NorvixCase& testCase : cases)
        QTest::newRow(qPrintable(testCase.name)) << testCase;
}

void tst_Norvix::cases()
{
    QFETCH(NorvixCase, testCase);
    const QString where = QStringLiteral("%1:%2").arg(QStringLiteral(CASE_FILE)).arg(testCase.line);
    _caseLog = _daemon->log().size();
    if (testCase.store == QLatin1String("empty"))
        emptyStore();
    else
        fillStore();
    resetSettings();
    serveEnclosure(HttpFixture::Whole);
    _recorder->clear();
    for (const QString& condition : testCase.before) {
        QString failure;
        QVERIFY2(check(CaseFile::fill(condition, _values, false), Run(), 0, &failure),
                 qPrintable(where + QStringLiteral(": before: ") + condition + QStringLiteral(": ") + failure));
    }
    _before = testCase.checks.contains(QStringLiteral("unchanged")) ? snapshot() : QStringList();
    _recorder->clear();
    const int logMark = _daemon->settledLog().size();

    const QStringList arguments = QProcess::splitCommand(CaseFile::fill(testCase.run, _values, false));
    const Run run = runTool(arguments, testCase.env);
    QStringList patterns;
    for (const QString& pattern : testCase.out)
        patterns.append(CaseFile::fill(pattern, _values, true));
    const QString shown = where + QStringLiteral("\n--- tool lines:\n") + run.lines.join(QLatin1Char('\n'))
        + QStringLiteral("\n--- patterns:\n") + patterns.join(QLatin1Char('\n'));
    QVERIFY2(run.status == testCase.status,
             qPrintable(QStringLiteral("status %1\n").arg(run.status) + shown + QStringLiteral("\n--- output:\n")
                        + run.output));
    QVERIFY2(CaseFile::linesMatch(run.lines, patterns), qPrintable(shown));
    for (const QString& condition : testCase.checks) {
        QString failure;
        QVERIFY2(check(CaseFile::fill(condition, _values, false), run, logMark, &failure),
                 qPrintable(where + QStringLiteral(": ") + condition + QStringLiteral(": ") + failure));
    }
}

bool tst_Norvix::check(const QString& condition, const Run& run, int logMark, QString* failure)
{
    const QStringList words = condition.split(QLatin1Char(' '));
    const QString kind = words.value(0);
    if (kind == QLatin1String("unchanged")) {
        const QStringList after = snapshot();
        *failure = QStringLiteral("before:\n") + _before.join('\n') + QStringLiteral("\nafter:\n") + after.join('\n');
        return after == _before;
    }
    if (kind == QLatin1String("exists") || kind == QLatin1String("missing")) {
        const QFileInfo file(condition.section(QLatin1Char(' '), 1));
        return (file.exists() || file.isSymLink()) == (kind == QLatin1String("exists"));
    }
    if (kind == QLatin1String("log")) {
        const QRegularExpression pattern(condition.section(QLatin1Char(' '), 1));
        *failure = run.output;
        return pattern.match(run.output).hasMatch();
    }
    if (kind == QLatin1String("daemon") || kind == QLatin1String("warned") || kind == QLatin1String("nodaemon")
        || kind == QLatin1String("signal"))
        return checkDaemon(words, condition, logMark, failure);
    if (kind == QLatin1String("restart"))
        return restartDaemon();
    if (kind == QLatin1String("tool") || kind == QLatin1String("listed") || kind == QLatin1String("state")
        || kind == QLatin1String("transfer") || kind == QLatin1String("subscribed"))
        return checkTool(words, run, failure);
    if (kind == QLatin1String("remove") || kind == QLatin1String("serve") || kind == QLatin1String("whole"))
        return checkFixture(words, failure);
    return checkStore(words, failure);
}

bool tst_Norvix::checkStore(const QStringList& words, QString* failure)
{
    const QString kind = words.value(0);
    const QMap<QString, QString> classes = {{"channels", "mfo:FeedChannel"},
                                            {"messages", "mfo:FeedMessage"},
                                            {"enclosures", "mfo:Enclosure"}};
    if (classes.contains(kind)) {
        const QStringList nodes = column(QStringLiteral("SELECT ?x WHERE { ?x a %1 }").arg(classes.value(kind)));
        *failure = nodes.join(QLatin1Char(' '));
        return nodes.size() == words.value(1).toInt();
    }
    if (kind == QLatin1String("stored") || kind == QLatin1String("gone")) {
        const bool stored = !column(QStringLiteral("SELECT ?p WHERE { <%1> ?p ?o }").arg(words.value(1))).isEmpty();
        return stored == (kind == QLatin1String("stored"));
    }
    // published|title <channel> <link> <value>: the stored message's field; "-" for no date.
    if (kind == QLatin1String("published") || kind == QLatin1String("title")) {
        for (const FeedMessage& message : FeedTrackerSparql::instance()->messagesForChannel(words.value(1))) {
            if (message.link() != words.value(2))
                continue;
            const QString value = kind == QLatin1String("title")
                ? message.title()
                : message.publishedDate().isValid() ? message.publishedDate().toString(Qt::ISODate) : QStringLiteral("-");
            *failure = value;
            return value == words.mid(3).join(QLatin1Char(' '));
        }
        *failure = QStringLiteral("no such message");
        return false;
    }
    if (kind == QLatin1String("channeltitle")) {
        *failure = FeedTrackerSparql::instance()->channelForUri(words.value(1)).title();
        return *failure == words.mid(2).join(QLatin1Char(' '));
    }
    *failure = QStringLiteral("unknown check");
    return false;
}

// remove <path>: the file is gone. serve <path> whole|stall|trickle: how the server gives E
// until the next case. whole <path>: the file holds all of E.
bool tst_Norvix::checkFixture(const QStringList& words, QString* failure)
{
    const QString kind = words.value(0);
    const QString path = words.value(1);
    if (kind == QLatin1String("remove")) {
        QFile::remove(path);
        return !QFileInfo::exists(path);
    }
    if (kind == QLatin1String("serve")) {
        const QMap<QString, HttpFixture::Delivery> deliveries = {
            {"whole", HttpFixture::Whole}, {"stall", HttpFixture::Stall}, {"trickle", HttpFixture::Trickle}};
        if (path != QLatin1String("/e.mp3") || !deliveries.contains(words.value(2))) {
            *failure = QStringLiteral("E alone is served so, whole, stalled or trickled");
            return false;
        }
        serveEnclosure(deliveries.value(words.value(2)));
        return true;
    }
    QFile file(path);
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    *failure = QStringLiteral("%1 bytes").arg(content.size());
    return content == EnclosureBody;
}

// daemon <slot> <pattern>: the daemon logged the slot ("*": any function), at any level, with a
// message matching the pattern; warned <slot> <pattern>: the same as a warning or critical line.
// nodaemon <slot>: it did not. signal <name> <pattern>: the signal came, its arguments joined
// by blanks matching the pattern.
bool tst_Norvix::checkDaemon(const QStringList& words, const QString& condition, int logMark, QString* failure)
{
    const QString kind = words.value(0);
    const QString function = words.value(1) == QLatin1String("*") ? QString() : words.value(1);
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(condition.section(QLatin1Char(' '), 2)));
    if (kind == QLatin1String("nodaemon")) {
        const QStringList logged = DaemonFixture::messages(_daemon->settledLog().mid(logMark), QLatin1Char('D'), function);
        *failure = logged.join(QLatin1Char('\n'));
        return logged.isEmpty();
    }
    if (kind == QLatin1String("daemon") || kind == QLatin1String("warned")) {
        const QList<QChar> levels = kind == QLatin1String("daemon")
            ? QList<QChar>{QLatin1Char('D'), QLatin1Char('W'), QLatin1Char('C')}
            : QList<QChar>{QLatin1Char('W'), QLatin1Char('C')};
        const auto found = [&] {
            const QByteArray log = _daemon->log().mid(logMark);
            QStringList logged;
            for (const QChar level : levels)
                logged += DaemonFixture::messages(log, level, function);
            *failure = logged.join(QLatin1Char('\n'));
            return !logged.filter(pattern).isEmpty();
        };
        return QTest::qWaitFor(found, DaemonFixture::timeout());
    }
    const auto arrived = [&] {
        for (const QVariantList& arguments : _recorder->arguments(words.value(1))) {
            QStringList texts;
            for (const QVariant& argument : arguments)
                texts.append(argument.toStringList().isEmpty() ? argument.toString() : argument.toStringList().join(','));
            if (pattern.match(texts.join(QLatin1Char(' '))).hasMatch())
                return true;
        }
        return false;
    };
    return QTest::qWaitFor(arrived, DaemonFixture::timeout());
}

// tool <arguments>: the tool ran them with status 0. listed <key> <text>: "settings list" shows
// the setting with that text. subscribed <link>: "channel list-all" shows the channel of the
// last refresh completed, with that link. state: the run printed the daemon's state as its method answers it.
// transfer <id>: the run's last line is the daemon's map of the transfer, as Qt writes it.
bool tst_Norvix::checkTool(const QStringList& words, const Run& run, QString* failure)
{
    const QString kind = words.value(0);
    if (kind == QLatin1String("tool") || kind == QLatin1String("listed")) {
        const Run listing = kind == QLatin1String("tool") ? runTool(words.mid(1))
                                                          : runTool({QStringLiteral("settings"), QStringLiteral("list")});
        *failure = listing.output;
        const QString line = QStringLiteral("\"%1\" : \"%2\"").arg(words.value(1), words.mid(2).join(QLatin1Char(' ')));
        return listing.status == 0 && (kind == QLatin1String("tool") || listing.lines.contains(line));
    }
    if (kind == QLatin1String("subscribed")) {
        if (!_recorder->waitFor(QStringLiteral("refreshCompleted"))) {
            *failure = QStringLiteral("no refresh completed");
            return false;
        }
        const QString uri = _recorder->arguments(QStringLiteral("refreshCompleted")).last().value(0).toString();
        const Run listing = runTool({QStringLiteral("channel"), QStringLiteral("list-all")});
        *failure = listing.lines.join(QLatin1Char('\n'));
        const QString channel = QStringLiteral("FeedChannel(\"%1\", \"%2\", ").arg(uri, words.value(1));
        return listing.status == 0 && !uri.isEmpty()
            && std::any_of(listing.lines.cbegin(), listing.lines.cend(),
                           [&](const QString& line) { return line.startsWith(channel); });
    }
    QString answer;
    if (kind == QLatin1String("state")) {
        answer = QStringLiteral("Engine State :  %1")
                     .arg(DaemonFixture::call(QStringLiteral("state")).arguments().value(0).toInt());
    } else {
        const QStringList fields = {"4", "1", "2", "7", "8", "9", "10", "11"};
        QDebug(&answer) << DaemonFixture::call(QStringLiteral("transferDetails"), {words.value(1), fields})
                               .arguments()
                               .value(0)
                               .toMap();
        answer = answer.trimmed();
    }
    *failure = answer;
    return run.lines.value(run.lines.size() - 1) == answer;
}

// The usage text is one message of 41 lines, whatever the reason for showing it.
void tst_Norvix::usageText()
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{message}"));
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(NORVIX_BINARY), {QStringLiteral("help")});
    QVERIFY(tool.waitForFinished(DaemonFixture::timeout()));
    const QString output = QString::fromUtf8(tool.readAllStandardError());
    const QStringList lines = output.section(QStringLiteral("void printUsage()\n"), 1).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 42); // the last message's own line end
    QCOMPARE(lines.at(0), QStringLiteral("Usage: dravin {channel|message|enclosure|settings|error|signal} "
                                         "{insert|delete|delete-all|list|list-all|all} <data>"));
    QCOMPARE(lines.at(4), QStringLiteral("\t insert link:<value> [title:<value>] [description:<value>] [type:<value>] "));
    QVERIFY(lines.at(12).isEmpty() && lines.at(20).isEmpty() && lines.at(41).isEmpty());
    QCOMPARE(lines.at(40), QStringLiteral(" norvix state all"));
}

// A slot may hold its reply while a network connection opens: the tool waits for it rather
// than failing after the bus's usual time-out, and the request is done when the daemon goes on.
void tst_Norvix::callOutlastsStoppedDaemon()
{
    fillStore();
    const int logMark = _daemon->settledLog().size();
    // A monitor of the bus shows the request on its way to the daemon, which cannot answer.
    QProcess monitor;
    monitor.setProcessChannelMode(QProcess::MergedChannels);
    monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("--monitor"),
                   QStringLiteral("type='method_call',interface='%1',member='refresh'").arg(DaemonFixture::Interface)});
    const auto stopMonitor = qScopeGuard([&] {
        monitor.kill();
        monitor.waitForFinished(DaemonFixture::timeout());
    });
    QByteArray monitored;
    const auto monitorShows = [&](const QByteArray& text) {
        return QTest::qWaitFor(
            [&] {
                monitored += monitor.readAll();
                return monitored.contains(text);
            },
            DaemonFixture::timeout());
    };
    QVERIFY2(monitorShows("member=NameLost"), monitored.constData()); // a monitor from then on
    StoppedProcess stopped(_daemon->process().processId());
    QProcess tool;
    tool.start(QStringLiteral(NORVIX_BINARY),
               {QStringLiteral("channel"), QStringLiteral("refresh"), QStringLiteral("link:") + _values["C"]});
    QVERIFY(tool.waitForStarted(DaemonFixture::timeout()));
    QVERIFY2(monitorShows("member=refresh"), monitored.constData());
    QCOMPARE(tool.state(), QProcess::Running);
    stopped.resume();
    QVERIFY(tool.waitForFinished(DaemonFixture::timeout()));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    QString failure;
    QVERIFY2(checkDaemon({QStringLiteral("daemon"), QStringLiteral("refresh")},
                         QStringLiteral("daemon refresh .*") + QRegularExpression::escape(_values["C"]) + ".*", logMark,
                         &failure),
             qPrintable(failure));
}

// "norvix signal all" started before the daemon hears it once it runs: each signal as the group
// of lines of its kind, in the order the daemon sent them.
void tst_Norvix::watchHearsLaterDaemon()
{
    fillStore();
    _daemon.reset();
    QProcess watcher;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), MessagePattern);
    watcher.setProcessEnvironment(environment);
    watcher.start(QStringLiteral(NORVIX_BINARY), {QStringLiteral("signal"), QStringLiteral("all")});
    const auto killWatcher = qScopeGuard([&] {
        watcher.kill();
        watcher.waitForFinished(DaemonFixture::timeout());
    });
    QByteArray output;
    const auto read = [&] { output += watcher.readAllStandardError(); };
    const auto heard = [&](const QByteArray& text) {
        read();
        return output.contains(text);
    };
    QVERIFY(QTest::qWaitFor([&] { return heard("|Connecting all signals of virelon:\n"); }, DaemonFixture::timeout()));
    QVERIFY(restartDaemon());

    // The watcher may still be setting up: a signal it can ignore, until it shows one.
    const QByteArray probe = "urn:watch:probe";
    QVERIFY(QTest::qWaitFor(
        [&] {
            DaemonFixture::call(QStringLiteral("editChannel"), {QString::fromLatin1(probe), QVariantMap()});
            return QTest::qWaitFor([&] { return heard(probe); }, 500);
        },
        DaemonFixture::timeout()));

    const QString channel = _values["C"];
    const QString missing = _values["C2"]; // its feed is not served: "not found", 103
    const QString enclosure = _values["E"];
    const QString lost = _values["E2"]; // not served either
    QVERIFY(QFile::remove(_values["EFILE"]) && QFile::remove(_values["E2FILE"]));
    serveEnclosure(HttpFixture::Trickle);
    const QList<QPair<QStringList, QString>> steps = {
        {{"channel", "refresh", "link:" + channel}, "refreshCompleted"},
        {{"channel", "refresh", "link:" + missing}, "refreshError"},
        {{"channel", "edit", "uri:" + channel, "title:T"}, "editChannelStatus"},
        {{"channel", "cancel", "link:" + channel, "link:urn:none"}, "refreshState"},
        {{"enclosure", "download", "channel-uri:" + channel, "enclosure-uri:" + enclosure},
         "enclosureDownloadCompleted"},
        {{"enclosure", "download", "channel-uri:" + channel, "enclosure-uri:" + lost}, "enclosureDownloadError"},
    };
    _recorder->clear();
    for (const auto& step : steps) {
        QCOMPARE(runTool(step.first).status, 0);
        QVERIFY2(_recorder->waitFor(step.second), qPrintable(step.first.join(' ')));
    }

    // The lines of one kind of group; progress comes as often as the transfer reports.
    struct Group
    {
        QStringList lines;
        bool repeats = false;
    };
    const QString signature = QStringLiteral("void FeedSignalCatcher::%1");
    const auto quoted = [](const QString& uri) { return QRegularExpression::escape(" : \"" + uri + "\""); };
    const Group manualDownloadsEnded = {{signature.arg("refreshState\\(int\\)"), "Error:  2"}};
    const QString completed = signature.arg("enclosureDownloadCompleted\\(const QString&, qlonglong\\)");
    const QList<Group> expected = {
        {{signature.arg("refreshStarted\\(const QString&\\)") + quoted(channel)}},
        {{signature.arg("refreshCompleted\\(const QString&\\)") + quoted(channel)}},
        {{signature.arg("refreshStarted\\(const QString&\\)") + quoted(missing)}},
        {{signature.arg("refreshError\\(const QString&, int\\)") + quoted(missing), "Error:  103"}},
        {{signature.arg("editChannelStatus\\(const QString&, int\\)") + quoted(channel), "Error:  0"}},
        {{signature.arg("refreshError\\(const QString&, int\\)") + quoted(channel), "Error:  201"}},
        {{signature.arg("refreshError\\(const QString&, int\\)") + quoted("urn:none"), "Error:  201"}},
        {{signature.arg("refreshState\\(int\\)"), "Error:  201"}},
        {{signature.arg("enclosureDownloadStarted\\(const QString&\\)") + quoted(enclosure)}},
        {{signature.arg("enclosureDownloadProgress\\(const QString&, qlonglong, qlonglong, qlonglong\\)")
              + quoted(enclosure),
          "Total size\\(Bytes\\):  4096", "Downloaded size\\(Bytes\\):  \\d+", "Time remaining\\(seconds\\):  \\d+"},
         true},
        {{completed + quoted(enclosure), completed + " : \\d+"}},
        manualDownloadsEnded,
        {{signature.arg("enclosureDownloadStarted\\(const QString&\\)") + quoted(lost)}},
        manualDownloadsEnded,
        {{signature.arg("enclosureDownloadError\\(const QStringList&, int, qlonglong\\)")
              + QRegularExpression::escape(" : (\"" + lost + "\")"),
          "Error:  103", "Time elapsed:  \\d+"}},
    };
    QStringList groups;
    const auto watched = [&] {
        read();
        groups.clear();
        QStringList group;
        for (const QString& line : QString::fromUtf8(output).split(QLatin1Char('\n'))) {
            if (!line.startsWith(ToolLine))
                continue;
            group.append(line.mid(ToolLine.size()));
            if (group.last() == QLatin1String("************************")) {
                if (!group.join(QLatin1Char(' ')).contains(QString::fromLatin1(probe)))
                    groups.append(group.join(QLatin1Char('\n')));
                group.clear();
            }
        }
        return !groups.isEmpty() && groups.last().contains(QStringLiteral("enclosureDownloadError"));
    };
    QVERIFY2(QTest::qWaitFor(watched, DaemonFixture::timeout()), output.constData());
    const QStringList tail = {"QTime\\(\"\\d\\d:\\d\\d:\\d\\d\"\\)", "\\*{24}"};
    int next = 0;
    for (const Group& kind : expected) {
        const int first = next;
        while (next < groups.size() && (next == first || kind.repeats)
               && CaseFile::linesMatch(groups.at(next).split(QLatin1Char('\n')), kind.lines + tail))
            ++next;
        QVERIFY2(next > first, qPrintable(groups.mid(first).join("\n") + "\n--- patterns:\n"
                                          + (kind.lines + tail).join('\n')));
    }
    QVERIFY2(next == groups.size(), qPrintable(groups.mid(next).join("\n")));
    QCOMPARE(watcher.state(), QProcess::Running);
}

VIRELON_TEST_MAIN(tst_Norvix)
#include "tst_norvix.moc"

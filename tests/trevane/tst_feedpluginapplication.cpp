#include "feedchannel.h"
#include "feedmethod.h"
#include "feedtypes.h"
#include "testenvironment.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>

namespace {

constexpr int Wait = 5000;

FeedMethod request(const QByteArray& name, quint32 sequence, const QByteArray& returnType = QByteArray(),
                   const FeedArgument& argument = FeedArgument())
{
    FeedMethod method(name, sequence);
    method.setReturnType(returnType);
    method.addArgument(argument);
    for (int i = 1; i < FeedProtocol::ArgumentSlots; ++i)
        method.addArgument(FeedArgument());
    return method;
}

FeedArgument channelArgument(const QString& link)
{
    FeedChannel channel;
    channel.setUri("urn:channel:1");
    channel.setLink(link);
    return FeedArgument::fromValue(channel);
}

} // namespace

// The daemon's end of the wire, spelled out byte by byte.
class PluginProcess
{
public:
    PluginProcess(const QString& dir, const QString& scenario)
        : _commPath(dir + "/" + scenario + ".data")
    {
        const QString program = dir + "/" + scenario;
        QFile::link(QStringLiteral(FAKE_PLUGIN), program);
        _process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        _process.start(program, {_commPath});
    }

    QProcess& process() { return _process; }
    QString commPath() const { return _commPath; }

    void send(const FeedMethod& method) { _process.write(FeedMethod::toByteArray(method)); }

    // The next record on standard output; an empty record when none came in time.
    FeedMethod next()
    {
        QDeadlineTimer deadline(Wait);
        QDataStream stream(&_process);
        forever {
            stream.startTransaction();
            FeedMethod record;
            stream >> record;
            if (stream.commitTransaction())
                return record;
            if (stream.status() != QDataStream::ReadPastEnd || deadline.hasExpired()
                || !_process.waitForReadyRead(int(deadline.remainingTime())))
                return FeedMethod();
            stream.resetStatus();
        }
    }

    // Sends a synchronous request and returns the answer record from the file.
    FeedMethod ask(const FeedMethod& method)
    {
        send(method);
        const FeedMethod wakeUp = next();
        if (wakeUp.name() != FeedProtocol::AnswerName || wakeUp.sequence() != method.sequence())
            return FeedMethod("no wake-up");
        QFile file(_commPath);
        if (!file.open(QIODevice::ReadOnly))
            return FeedMethod("no file");
        QDataStream stream(file.readAll());
        FeedMethod answer;
        stream >> answer;
        return answer;
    }

    QVariant answerValue(const FeedMethod& method)
    {
        const FeedMethod answer = ask(method);
        return answer.arguments().isEmpty() ? QVariant() : answer.arguments().first().toVariant();
    }

private:
    QString _commPath;
    QProcess _process;
};

class tst_FeedPluginApplication : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void answersVersionAndElapsedTime();
    void answersWhileADownloadRuns();
    void signalsCarryTheirDownload_data();
    void signalsCarryTheirDownload();
    void refusesCallsOutsideTheInterface_data();
    void refusesCallsOutsideTheInterface();
    void endsWhen_data();
    void endsWhen();

private:
    QTemporaryDir _dir;
};

void tst_FeedPluginApplication::initTestCase()
{
    FeedTypes::registerTypes();
    FeedMethod::registerTypes();
    QVERIFY(_dir.isValid());
}

void tst_FeedPluginApplication::answersVersionAndElapsedTime()
{
    PluginProcess plugin(_dir.path(), "good");
    const FeedMethod answer = plugin.ask(request("version", 7, "QString"));
    QCOMPARE(answer.name(), QByteArray("version"));
    QCOMPARE(answer.sequence(), 7u);
    QCOMPARE(answer.arguments().first().toVariant(), QVariant("0.1"));
    QCOMPARE(plugin.answerValue(request("elapsedTime", 8, "qlonglong")), QVariant(qlonglong(0)));
    const FeedMethod channel = plugin.ask(request("channel", 9, "FeedChannel"));
    QCOMPARE(channel.arguments().first().typeName(), QByteArray("FeedChannel"));
    QFile file(plugin.commPath());
    QCOMPARE(int(file.permissions() & (QFile::ReadOther | QFile::ReadGroup)), 0);
}

void tst_FeedPluginApplication::answersWhileADownloadRuns()
{
    PluginProcess plugin(_dir.path(), "hang");
    plugin.send(request("downloadFeeds", 1, QByteArray(), channelArgument("http://127.0.0.1/feed")));
    quint32 sequence = 1;
    // The time since the last progress keeps growing while nothing happens.
    QTRY_VERIFY(plugin.answerValue(request("elapsedTime", ++sequence, "qlonglong")).toLongLong() > 50);
    QCOMPARE(plugin.answerValue(request("version", ++sequence, "QString")), QVariant("0.1"));
}

void tst_FeedPluginApplication::signalsCarryTheirDownload_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::newRow("good") << "good";
    QTest::newRow("stray prints go to standard error") << "chatty";
}

void tst_FeedPluginApplication::signalsCarryTheirDownload()
{
    QFETCH(QString, scenario);
    PluginProcess plugin(_dir.path(), scenario);
    plugin.send(request("downloadFeeds", 9, QByteArray(), channelArgument("http://127.0.0.1/feed")));
    QStringList names;
    for (int i = 0; i < 4; ++i) {
        const FeedMethod record = plugin.next();
        QCOMPARE(record.sequence(), 9u);
        names << record.name();
    }
    QCOMPARE(names, QStringList({"enclosureDownloadProgress", "enclosureDownloadProgress",
                                 "enclosureDownloadProgress", "downloadFeedsFinished"}));
    QCOMPARE(plugin.answerValue(request("elapsedTime", 10, "qlonglong")), QVariant(qlonglong(0)));
}

void tst_FeedPluginApplication::refusesCallsOutsideTheInterface_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("returnType");
    QTest::addColumn<FeedArgument>("argument");
    QTest::newRow("deleteLater") << QByteArray("deleteLater") << QByteArray() << FeedArgument();
    QTest::newRow("application slot") << QByteArray("quit") << QByteArray() << FeedArgument();
    QTest::newRow("wrong argument type") << QByteArray("downloadFeeds") << QByteArray()
                                         << FeedArgument::fromValue(5);
    QTest::newRow("undecodable argument") << QByteArray("downloadFeeds") << QByteArray()
                                          << FeedArgument("FeedChannel", "\x01");
    QTest::newRow("wrong return type") << QByteArray("channel") << QByteArray("QString") << FeedArgument();
    QTest::newRow("unknown with return type") << QByteArray("destroyed") << QByteArray("int") << FeedArgument();
}

void tst_FeedPluginApplication::refusesCallsOutsideTheInterface()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, returnType);
    QFETCH(FeedArgument, argument);
    PluginProcess plugin(_dir.path(), "good");
    if (returnType.isEmpty()) {
        plugin.send(request(name, 1, returnType, argument));
    } else {
        // A refused synchronous call is answered at once, without a value.
        const FeedMethod answer = plugin.ask(request(name, 1, returnType, argument));
        QCOMPARE(answer.sequence(), 1u);
        QVERIFY(answer.actualArguments().isEmpty());
    }
    QCOMPARE(plugin.answerValue(request("version", 2, "QString")), QVariant("0.1"));
    QCOMPARE(plugin.answerValue(request("elapsedTime", 3, "qlonglong")), QVariant(qlonglong(0)));
    QCOMPARE(plugin.process().state(), QProcess::Running);
}

void tst_FeedPluginApplication::endsWhen_data()
{
    QTest::addColumn<QString>("cause");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("standard input closes") << "close" << 0;
    QTest::newRow("broken request") << "garbage" << 1;
    QTest::newRow("communication file is a link") << "symlink" << 1;
}

void tst_FeedPluginApplication::endsWhen()
{
    QFETCH(QString, cause);
    QFETCH(int, exitCode);
    const QString scenario = "good-" + cause;
    if (cause == "symlink")
        QVERIFY(QFile::link(_dir.path() + "/elsewhere", _dir.path() + "/" + scenario + ".data"));
    PluginProcess plugin(_dir.path(), scenario);
    QVERIFY(plugin.process().waitForStarted(Wait));
    if (cause == "close")
        plugin.process().closeWriteChannel();
    else if (cause == "garbage")
        plugin.process().write(QByteArray("\0\0\0\x04junk", 8));
    QVERIFY(plugin.process().waitForFinished(Wait));
    QCOMPARE(plugin.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(plugin.process().exitCode(), exitCode);
    QVERIFY(!QFile::exists(_dir.path() + "/elsewhere"));
}

VIRELON_TEST_MAIN(tst_FeedPluginApplication)

#include "tst_feedpluginapplication.moc"

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

QVariant valueOf(const FeedMethod& answer)
{
    return answer.arguments().isEmpty() ? QVariant() : answer.arguments().first().toVariant();
}

// The daemon's end of the wire, spelled out byte by byte.
struct PluginProcess
{
    PluginProcess(const QString& dir, const QString& scenario)
        : commPath(dir + "/" + scenario + ".data")
    {
        const QString program = dir + "/" + scenario;
        QFile::link(QStringLiteral(FAKE_PLUGIN), program);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, {commPath});
    }

    void send(const FeedMethod& method) { process.write(FeedMethod::toByteArray(method)); }

    // The next record on standard output; an empty record when none came in time.
    FeedMethod next()
    {
        QDeadlineTimer deadline(Wait);
        QDataStream stream(&process);
        forever {
            stream.startTransaction();
            FeedMethod record;
            stream >> record;
            if (stream.commitTransaction())
                return record;
            if (stream.status() != QDataStream::ReadPastEnd || deadline.hasExpired()
                || !process.waitForReadyRead(int(deadline.remainingTime())))
                return FeedMethod();
            stream.resetStatus();
        }
    }

    // Sends a synchronous request and returns the answer record from the file.
    FeedMethod ask(const FeedMethod& method)
    {
        send(method);
        const FeedMethod wakeUp = next();
        QFile file(commPath);
        if (wakeUp.name() != FeedProtocol::AnswerName || wakeUp.sequence() != method.sequence()
            || !file.open(QIODevice::ReadOnly))
            return FeedMethod("no answer");
        QDataStream stream(file.readAll());
        FeedMethod answer;
        stream >> answer;
        return answer;
    }

    const QString commPath;
    QProcess process;
};

} // namespace

class tst_FeedPluginApplication : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void answersAndSignals_data();
    void answersAndSignals();
    void answersWhileADownloadRuns();
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

void tst_FeedPluginApplication::answersAndSignals_data()
{
    // Before its download, the plug-in is sent a request it must refuse and live on.
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QByteArray>("refused");
    QTest::addColumn<QByteArray>("returnType");
    QTest::addColumn<FeedArgument>("argument");
    const QByteArray none;
    QTest::newRow("good") << "good" << none << none << FeedArgument();
    QTest::newRow("stray prints go to standard error") << "chatty" << none << none << FeedArgument();
    QTest::newRow("deleteLater") << "good" << QByteArray("deleteLater") << none << FeedArgument();
    QTest::newRow("application slot") << "good" << QByteArray("quit") << none << FeedArgument();
    QTest::newRow("wrong argument type") << "good" << QByteArray("downloadFeeds") << none << FeedArgument::fromValue(5);
    QTest::newRow("undecodable argument") << "good" << QByteArray("downloadFeeds") << none
                                          << FeedArgument("FeedChannel", "\x01");
    QTest::newRow("wrong return type") << "good" << QByteArray("channel") << QByteArray("QString") << FeedArgument();
    QTest::newRow("unknown with return type") << "good" << QByteArray("destroyed") << QByteArray("int")
                                              << FeedArgument();
}

void tst_FeedPluginApplication::answersAndSignals()
{
    QFETCH(QString, scenario);
    QFETCH(QByteArray, refused);
    QFETCH(QByteArray, returnType);
    QFETCH(FeedArgument, argument);
    PluginProcess plugin(_dir.path(), scenario);
    if (!returnType.isEmpty()) {
        // A refused synchronous call is answered at once, without a value.
        const FeedMethod answer = plugin.ask(request(refused, 1, returnType, argument));
        QCOMPARE(answer.sequence(), 1u);
        QVERIFY(answer.actualArguments().isEmpty());
    } else if (!refused.isEmpty()) {
        plugin.send(request(refused, 1, returnType, argument));
    }
    plugin.send(request("downloadFeeds", 9, QByteArray(), channelArgument("http://127.0.0.1/feed")));
    QStringList names;
    for (int i = 0; i < 4; ++i) {
        const FeedMethod record = plugin.next();
        QCOMPARE(record.sequence(), 9u);
        names << record.name();
    }
    QCOMPARE(names, QStringList({"enclosureDownloadProgress", "enclosureDownloadProgress",
                                 "enclosureDownloadProgress", "downloadFeedsFinished"}));
    const FeedMethod version = plugin.ask(request("version", 10, "QString"));
    QCOMPARE(version.name() + ' ' + QByteArray::number(version.sequence()), QByteArray("version 10"));
    QCOMPARE(valueOf(version), QVariant("0.1"));
    QCOMPARE(valueOf(plugin.ask(request("elapsedTime", 11, "qlonglong"))), QVariant(qlonglong(0)));
    const FeedMethod channel = plugin.ask(request("channel", 12, "FeedChannel"));
    QCOMPARE(channel.arguments().first().typeName(), QByteArray("FeedChannel"));
    QCOMPARE(int(QFile(plugin.commPath).permissions() & (QFile::ReadOther | QFile::ReadGroup)), 0);
}

void tst_FeedPluginApplication::answersWhileADownloadRuns()
{
    PluginProcess plugin(_dir.path(), "hang");
    plugin.send(request("downloadFeeds", 1, QByteArray(), channelArgument("http://127.0.0.1/feed")));
    quint32 sequence = 1;
    // The time since the last progress keeps growing while nothing happens.
    QTRY_VERIFY(valueOf(plugin.ask(request("elapsedTime", ++sequence, "qlonglong"))).toLongLong() > 50);
    QCOMPARE(valueOf(plugin.ask(request("version", ++sequence, "QString"))), QVariant("0.1"));
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
    QVERIFY(plugin.process.waitForStarted(Wait));
    if (cause == "close")
        plugin.process.closeWriteChannel();
    else if (cause == "garbage")
        plugin.process.write(QByteArray("\0\0\0\x04junk", 8));
    QVERIFY(plugin.process.waitForFinished(Wait));
    QCOMPARE(plugin.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(plugin.process.exitCode(), exitCode);
    QVERIFY(!QFile::exists(_dir.path() + "/elsewhere"));
}

VIRELON_TEST_MAIN(tst_FeedPluginApplication)

#include "tst_feedpluginapplication.moc"

#include "feedmethod.h"
#include "feedtypes.h"
#include "httpfixture.h"
#include "testenvironment.h"

#include <feedchannel.h>

#include <QDataStream>
#include <QProcess>

// The built tamsil program as the daemon sees it: a child process driven over its standard
// input and output and its communication file.
class tst_TamsilProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void drivenOverTheProtocol();

private:
    void send(const QByteArray& name, const QByteArray& returnType, const FeedArgument& argument = FeedArgument());
    void readRecords();
    FeedMethod record(const QByteArray& name) const;
    QVariant answer();

    QProcess _process;
    QTemporaryDir _dir;
    QByteArray _output;
    QList<FeedMethod> _records;
    quint32 _sequence = 0;
};

void tst_TamsilProcess::initTestCase()
{
    TestEnvironment::failOnConnectWarnings();
    FeedTypes::registerTypes();
    FeedMethod::registerTypes();
}

void tst_TamsilProcess::send(const QByteArray& name, const QByteArray& returnType, const FeedArgument& argument)
{
    FeedMethod method(name, ++_sequence);
    method.setReturnType(returnType);
    if (!argument.isEmpty())
        method.addArgument(argument);
    _process.write(FeedMethod::toByteArray(method));
}

void tst_TamsilProcess::readRecords()
{
    _output += _process.readAllStandardOutput();
    QDataStream stream(&_output, QIODevice::ReadOnly);
    int consumed = 0;
    for (;;) {
        stream.startTransaction();
        FeedMethod method;
        stream >> method;
        if (!stream.commitTransaction())
            break;
        _records.append(method);
        consumed = int(stream.device()->pos());
    }
    _output.remove(0, consumed);
}

FeedMethod tst_TamsilProcess::record(const QByteArray& name) const
{
    for (const FeedMethod& method : _records) {
        if (method.name() == name && (name != FeedProtocol::AnswerName || method.sequence() == _sequence))
            return method;
    }
    return FeedMethod();
}

// The answer to the last call, read from the communication file once it is announced.
QVariant tst_TamsilProcess::answer()
{
    if (!QTest::qWaitFor([this] { return !record(FeedProtocol::AnswerName).name().isEmpty(); }, 5000))
        return QVariant();
    QFile file(_dir.filePath(QStringLiteral("tamsil.data")));
    if (!file.open(QIODevice::ReadOnly))
        return QVariant();
    QDataStream stream(&file);
    FeedMethod method;
    stream >> method;
    return method.actualArguments().value(0).toVariant();
}

void tst_TamsilProcess::drivenOverTheProtocol()
{
    HttpFixture http;
    http.serve(QStringLiteral("/feed"),
               "<rss version=\"2.0\"><channel><title>Remote</title><item><title>one</title>"
               "<link>http://x.test/1</link><pubDate>Tue, 08 Dec 2026 10:00:00 PST</pubDate></item>"
               "</channel></rss>",
               "application/rss+xml");
    http.serve(QStringLiteral("/a.mp3"), QByteArray(20000, 'z'), "audio/mpeg");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_TAMSIL_DATA_DIR"), QStringLiteral(TAMSIL_QUERY_DIR));
    _process.setProcessEnvironment(environment);
    _process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&_process, &QProcess::readyReadStandardOutput, this, &tst_TamsilProcess::readRecords);
    _process.start(QStringLiteral(TAMSIL_PROGRAM), {_dir.filePath(QStringLiteral("tamsil.data"))});
    QVERIFY(_process.waitForStarted());

    send("version", "QString");
    QCOMPARE(answer().toString(), QStringLiteral("0.1"));

    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:uuid:e2e"));
    channel.setLink(http.url(QStringLiteral("/feed")).toString());
    channel.setType(QStringLiteral("tamsil"));
    send("downloadFeeds", QByteArray(), FeedArgument::fromValue(channel));
    QTRY_COMPARE(record("downloadFeedsFinished").sequence(), _sequence);
    send("channel", "FeedChannel");
    const FeedChannel result = answer().value<FeedChannel>();
    QCOMPARE(result.uri(), channel.uri());
    QCOMPARE(result.title(), QStringLiteral("Remote"));
    QCOMPARE(result.messages().size(), 1);
    QCOMPARE(result.messages().first().publishedDate(), QDateTime(QDate(2026, 12, 8), QTime(18, 0), Qt::UTC));

    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(http.url(QStringLiteral("/a.mp3")).toString());
    enclosure.setLocalUrl(_dir.filePath(QStringLiteral("a.mp3.part")));
    send("downloadEnclosure", QByteArray(), FeedArgument::fromValue(enclosure));
    QTRY_COMPARE(record("downloadEnclosureFinished").sequence(), _sequence);
    const QVariantMap finished = record("downloadEnclosureFinished").actualArguments().value(0).toVariant().toMap();
    QCOMPARE(finished.value(QStringLiteral("length")).toUInt(), 20000u);
    QCOMPARE(finished.value(QStringLiteral("mimeType")).toString(), QStringLiteral("audio/mpeg"));
    QCOMPARE(record("enclosureDownloadProgress").actualArguments().size(), 2);
    QCOMPARE(QFileInfo(enclosure.localUrl()).size(), 20000);

    _process.closeWriteChannel();
    QVERIFY(_process.waitForFinished(5000));
    QCOMPARE(_process.exitStatus(), QProcess::NormalExit);
}

VIRELON_TEST_MAIN(tst_TamsilProcess)
#include "tst_tamsilprocess.moc"

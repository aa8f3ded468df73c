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
    void init();
    void cleanup();
    void answersVersion();
    void fetchesAndReturnsChannel();
    void reportsInvalidLink();
    void downloadsEnclosureWithProgress();

private:
    void send(const QByteArray& name, const QByteArray& returnType = QByteArray(),
              const FeedArgument& argument = FeedArgument());
    QVariant call(const QByteArray& name, const QByteArray& returnType);
    void readRecords();
    bool hasRecord(const QByteArray& name) const;
    FeedMethod record(const QByteArray& name) const;

    HttpFixture* _http = nullptr;
    QProcess* _process = nullptr;
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

void tst_TamsilProcess::init()
{
    _http = new HttpFixture;
    _records.clear();
    _output.clear();
    _process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VIRELON_TAMSIL_DATA_DIR"), QStringLiteral(TAMSIL_QUERY_DIR));
    _process->setProcessEnvironment(environment);
    _process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    _process->setReadChannel(QProcess::StandardOutput);
    connect(_process, &QProcess::readyReadStandardOutput, this, &tst_TamsilProcess::readRecords);
    _process->start(QStringLiteral(TAMSIL_PROGRAM), {_dir.filePath(QStringLiteral("tamsil.data"))});
    QVERIFY(_process->waitForStarted());
}

void tst_TamsilProcess::cleanup()
{
    _process->closeWriteChannel();
    if (!_process->waitForFinished(5000))
        _process->kill();
    QCOMPARE(_process->exitStatus(), QProcess::NormalExit);
    delete _process;
    delete _http;
}

void tst_TamsilProcess::send(const QByteArray& name, const QByteArray& returnType, const FeedArgument& argument)
{
    FeedMethod method(name, ++_sequence);
    method.setReturnType(returnType);
    if (!argument.isEmpty())
        method.addArgument(argument);
    _process->write(FeedMethod::toByteArray(method));
}

QVariant tst_TamsilProcess::call(const QByteArray& name, const QByteArray& returnType)
{
    send(name, returnType);
    const quint32 sequence = _sequence;
    auto answered = [this, sequence] {
        for (const FeedMethod& method : qAsConst(_records)) {
            if (method.name() == FeedProtocol::AnswerName && method.sequence() == sequence)
                return true;
        }
        return false;
    };
    if (!QTest::qWaitFor(answered, 5000))
        return QVariant();
    QFile file(_dir.filePath(QStringLiteral("tamsil.data")));
    if (!file.open(QIODevice::ReadOnly))
        return QVariant();
    QDataStream stream(&file);
    FeedMethod answer;
    stream >> answer;
    return answer.actualArguments().value(0).toVariant();
}

void tst_TamsilProcess::readRecords()
{
    _output += _process->readAllStandardOutput();
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

bool tst_TamsilProcess::hasRecord(const QByteArray& name) const
{
    return !record(name).name().isEmpty();
}

FeedMethod tst_TamsilProcess::record(const QByteArray& name) const
{
    for (const FeedMethod& method : _records) {
        if (method.name() == name)
            return method;
    }
    return FeedMethod();
}

void tst_TamsilProcess::answersVersion()
{
    QCOMPARE(call("version", "QString").toString(), QStringLiteral("0.1"));
}

void tst_TamsilProcess::fetchesAndReturnsChannel()
{
    _http->serve(QStringLiteral("/feed"),
                 "<rss version=\"2.0\"><channel><title>Remote</title><item><title>one</title>"
                 "<link>http://x.test/1</link><pubDate>Tue, 08 Dec 2026 10:00:00 PST</pubDate></item>"
                 "</channel></rss>",
                 "application/rss+xml");
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:uuid:e2e"));
    channel.setLink(_http->url(QStringLiteral("/feed")).toString());
    channel.setType(QStringLiteral("tamsil"));
    send("downloadFeeds", QByteArray(), FeedArgument::fromValue(channel));
    QTRY_VERIFY(hasRecord("downloadFeedsFinished") || hasRecord("downloadFeedsFailed"));
    QVERIFY(hasRecord("downloadFeedsFinished"));
    QCOMPARE(record("downloadFeedsFinished").sequence(), _sequence);

    const FeedChannel result = call("channel", "FeedChannel").value<FeedChannel>();
    QCOMPARE(result.uri(), channel.uri());
    QCOMPARE(result.title(), QStringLiteral("Remote"));
    QCOMPARE(result.messages().size(), 1);
    QCOMPARE(result.messages().first().publishedDate(),
             QDateTime(QDate(2026, 12, 8), QTime(18, 0), Qt::UTC));
}

void tst_TamsilProcess::reportsInvalidLink()
{
    FeedChannel channel;
    channel.setLink(QStringLiteral("http://bad host/%zz"));
    send("downloadFeeds", QByteArray(), FeedArgument::fromValue(channel));
    QTRY_VERIFY(hasRecord("downloadFeedsFailed"));
    QCOMPARE(record("downloadFeedsFailed").actualArguments().value(0).toVariant().toInt(), 101);
}

void tst_TamsilProcess::downloadsEnclosureWithProgress()
{
    HttpFixture::Reply reply;
    reply.body = QByteArray(20000, 'z');
    reply.addHeader("Content-Type", "audio/mpeg");
    reply.delivery = HttpFixture::Trickle;
    reply.chunkSize = 4000;
    reply.chunkInterval = 2;
    _http->setReply(QStringLiteral("/a.mp3"), reply);
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl(_http->url(QStringLiteral("/a.mp3")).toString());
    enclosure.setLocalUrl(_dir.filePath(QStringLiteral("a.mp3.part")));
    send("downloadEnclosure", QByteArray(), FeedArgument::fromValue(enclosure));
    QTRY_VERIFY(hasRecord("downloadEnclosureFinished") || hasRecord("downloadEnclosureFailed"));
    const QVariantMap result = record("downloadEnclosureFinished").actualArguments().value(0).toVariant().toMap();
    QCOMPARE(result.value(QStringLiteral("length")).toUInt(), 20000u);
    QCOMPARE(result.value(QStringLiteral("mimeType")).toString(), QStringLiteral("audio/mpeg"));
    const FeedMethod progress = record("enclosureDownloadProgress");
    QCOMPARE(progress.actualArguments().size(), 2);
    QCOMPARE(QFileInfo(enclosure.localUrl()).size(), 20000);
}

VIRELON_TEST_MAIN(tst_TamsilProcess)
#include "tst_tamsilprocess.moc"

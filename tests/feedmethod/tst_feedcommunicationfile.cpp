#include "feedchannel.h"
#include "feedcommunicationfile.h"
#include "feedmethod.h"
#include "feedtypes.h"
#include "testenvironment.h"

namespace {

FeedMethod answerWith(const FeedChannel& channel)
{
    FeedMethod answer("channel", 9);
    answer.setReturnType("FeedChannel");
    answer.addArgument(FeedArgument::fromValue(channel));
    return answer;
}

} // namespace

class tst_FeedCommunicationFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void recordTravelsThroughTheFile();
    void oversizedFileIsNotRead();

private:
    QTemporaryDir _dir;
    QFile _file;
};

void tst_FeedCommunicationFile::initTestCase()
{
    FeedTypes::registerTypes();
    FeedMethod::registerTypes();
}

void tst_FeedCommunicationFile::init()
{
    _file.close();
    _file.setFileName(_dir.filePath(QStringLiteral("plugin.data")));
    QVERIFY(FeedCommunicationFile::open(_file));
}

// What the file held before is gone; the value comes back as the value written.
void tst_FeedCommunicationFile::recordTravelsThroughTheFile()
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:channel:3"));
    QList<FeedMessage> messages;
    for (int i = 0; i < 3000; ++i) {
        FeedMessage message;
        message.setLink(QStringLiteral("http://127.0.0.1/message/%1").arg(i));
        messages.append(message);
    }
    channel.setMessages(messages);
    const FeedMethod written = answerWith(channel);
    QCOMPARE(_file.write(QByteArray(1 << 20, 'x')), qint64(1 << 20));
    QVERIFY(FeedCommunicationFile::writeRecord(_file, written));
    QCOMPARE(_file.size(), qint64(FeedMethod::toByteArray(written).size()));

    FeedMethod read;
    QVERIFY(FeedCommunicationFile::readRecord(_file, &read));
    QCOMPARE(read.name() + QByteArray::number(read.sequence()), QByteArray("channel9"));
    const FeedChannel back = read.arguments().first().toVariant().value<FeedChannel>();
    QCOMPARE(back.uri(), channel.uri());
    QCOMPARE(back.messages().size(), messages.size());
    QCOMPARE(back.messages().last().link(), messages.last().link());
}

// The guard of the daemon's memory: a plug-in's file is not taken in whatever its size.
void tst_FeedCommunicationFile::oversizedFileIsNotRead()
{
    QVERIFY(FeedCommunicationFile::writeRecord(_file, answerWith(FeedChannel())));
    QVERIFY(_file.resize(sizeof(quint32) + FeedProtocol::MaximumRecordSize + 1));
    FeedMethod read;
    QString error;
    QVERIFY(!FeedCommunicationFile::readRecord(_file, &read, &error));
    QVERIFY2(error.contains(QString::number(_file.size())), qPrintable(error));
    QVERIFY(read.name().isEmpty());
}

VIRELON_TEST_MAIN(tst_FeedCommunicationFile)

#include "tst_feedcommunicationfile.moc"

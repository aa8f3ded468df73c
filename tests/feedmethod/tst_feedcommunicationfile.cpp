#include "feedchannel.h"
#include "feedcommunicationfile.h"
#include "feedmethod.h"
#include "feedtypes.h"
#include "testenvironment.h"

class tst_FeedCommunicationFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
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
    _file.setFileName(_dir.filePath(QStringLiteral("plugin.data")));
    QVERIFY(FeedCommunicationFile::open(_file));
}

// What the file held before is gone; the value comes back as it was written.
void tst_FeedCommunicationFile::recordTravelsThroughTheFile()
{
    FeedChannel channel;
    QList<FeedMessage> messages;
    for (int i = 0; i < 3000; ++i) {
        messages.append(FeedMessage());
        messages.last().setLink(QStringLiteral("http://127.0.0.1/message/%1").arg(i));
    }
    channel.setMessages(messages);
    FeedMethod written("channel", 9);
    written.addArgument(FeedArgument::fromValue(channel));
    _file.write(QByteArray(1 << 20, 'x'));
    QVERIFY(FeedCommunicationFile::writeRecord(_file, written));
    QCOMPARE(_file.size(), qint64(FeedMethod::toByteArray(written).size()));

    FeedMethod read;
    QVERIFY(FeedCommunicationFile::readRecord(_file, &read));
    QCOMPARE(read.sequence(), 9u);
    const QList<FeedMessage> back = read.arguments().first().toVariant().value<FeedChannel>().messages();
    QCOMPARE(back.size(), messages.size());
    QCOMPARE(back.last().link(), messages.last().link());
}

// The guard of the daemon's memory: a plug-in's file is not taken in whatever its size.
void tst_FeedCommunicationFile::oversizedFileIsNotRead()
{
    QVERIFY(FeedCommunicationFile::writeRecord(_file, FeedMethod("channel", 10)));
    QVERIFY(_file.resize(sizeof(quint32) + FeedProtocol::MaximumRecordSize + 1));
    FeedMethod read;
    QString error;
    QVERIFY(!FeedCommunicationFile::readRecord(_file, &read, &error));
    QVERIFY2(error.contains(QString::number(_file.size())), qPrintable(error));
    QCOMPARE(read.sequence(), 0u);
}

VIRELON_TEST_MAIN(tst_FeedCommunicationFile)

#include "tst_feedcommunicationfile.moc"

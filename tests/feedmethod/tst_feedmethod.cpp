#include "feedchannel.h"
#include "feedmethod.h"
#include "feedtypes.h"
#include "testenvironment.h"

#include <QBuffer>

namespace {

FeedMethod recordWith(const QVariant& value)
{
    FeedMethod method("downloadFeeds", 42);
    method.setReturnType("QString");
    if (value.isValid())
        method.addArgument(FeedArgument::fromValue(value.userType(), value.constData()));
    for (int i = method.arguments().size(); i < FeedProtocol::ArgumentSlots; ++i)
        method.addArgument(FeedArgument());
    return method;
}

QByteArray bytesOfSize(quint32 size, const QByteArray& payload)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << size;
    return bytes + payload;
}

QByteArray payloadWith(quint32 count, const QByteArray& tail = QByteArray())
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    stream.setVersion(FeedTypes::StreamVersion);
    stream << QByteArray("name") << QByteArray() << quint32(1) << count;
    return payload + tail;
}

} // namespace

class tst_FeedMethod : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void splitRecordWaitsForItsRest();
    void brokenRecords_data();
    void brokenRecords();
    void undecodableArguments_data();
    void undecodableArguments();
};

void tst_FeedMethod::initTestCase()
{
    FeedTypes::registerTypes();
    FeedMethod::registerTypes();
}

void tst_FeedMethod::roundTrip_data()
{
    QTest::addColumn<QVariant>("value");
    FeedChannel channel;
    channel.setUri("urn:channel:1");
    channel.setTitle(QString::fromUtf8("Nachrichten \xc3\xbc"));
    FeedEnclosure enclosure;
    enclosure.setRemoteUrl("http://127.0.0.1/a.mp3");
    QTest::newRow("channel") << QVariant::fromValue(channel);
    QTest::newRow("enclosure") << QVariant::fromValue(enclosure);
    QTest::newRow("map") << QVariant(QVariantMap{{"mimeType", "audio/mpeg"}, {"length", 12u}});
    QTest::newRow("int") << QVariant(404);
    QTest::newRow("qlonglong") << QVariant(qlonglong(1) << 40);
    QTest::newRow("string") << QVariant(QStringLiteral("0.1"));
    QTest::newRow("no argument") << QVariant();
}

void tst_FeedMethod::roundTrip()
{
    QFETCH(QVariant, value);
    const FeedMethod written = recordWith(value);
    const QByteArray bytes = FeedMethod::toByteArray(written);
    // Two records back to back read one after the other.
    QDataStream stream(bytes + bytes);
    for (int i = 0; i < 2; ++i) {
        FeedMethod read;
        stream >> read;
        QCOMPARE(stream.status(), QDataStream::Ok);
        QCOMPARE(read.name(), written.name());
        QCOMPARE(read.returnType(), written.returnType());
        QCOMPARE(read.sequence(), written.sequence());
        QCOMPARE(read.arguments(), written.arguments());
        const QList<QGenericArgument> generic = read.genericArguments();
        QCOMPARE(generic.size(), FeedProtocol::ArgumentSlots);
        QVERIFY(read.hasDecodableArguments());
        if (value.isValid()) {
            QCOMPARE(QByteArray(generic.at(0).name()), QByteArray(value.typeName()));
            QCOMPARE(read.arguments().first().toVariant().userType(), value.userType());
            QCOMPARE(read.signature(), "downloadFeeds(" + QByteArray(value.typeName()) + ')');
        } else {
            QCOMPARE(generic.at(0).name(), nullptr);
            QCOMPARE(read.signature(), QByteArray("downloadFeeds()"));
        }
    }
    QVERIFY(stream.atEnd());
}

void tst_FeedMethod::splitRecordWaitsForItsRest()
{
    const QByteArray bytes = FeedMethod::toByteArray(recordWith(QVariant(7)));
    for (int cut = 0; cut < bytes.size(); ++cut) {
        QByteArray data = bytes.left(cut);
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QDataStream stream(&buffer);
        stream.startTransaction();
        FeedMethod read;
        stream >> read;
        QVERIFY2(!stream.commitTransaction(), qPrintable(QString::number(cut)));
        QCOMPARE(stream.status(), QDataStream::ReadPastEnd);
        QCOMPARE(buffer.pos(), qint64(0));
    }
}

void tst_FeedMethod::brokenRecords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("oversized") << bytesOfSize(FeedProtocol::MaximumRecordSize + 1, "....");
    QTest::newRow("text") << bytesOfSize(8, "garbage!");
    QTest::newRow("bytes after the record") << bytesOfSize(payloadWith(0, "x").size(), payloadWith(0, "x"));
    QTest::newRow("too many arguments") << bytesOfSize(payloadWith(1000).size(), payloadWith(1000));
    QTest::newRow("missing argument") << bytesOfSize(payloadWith(2).size(), payloadWith(2));
}

void tst_FeedMethod::brokenRecords()
{
    QFETCH(QByteArray, bytes);
    QDataStream stream(bytes);
    stream.startTransaction();
    FeedMethod read;
    stream >> read;
    QVERIFY(!stream.commitTransaction());
    QCOMPARE(stream.status(), QDataStream::ReadCorruptData);
}

void tst_FeedMethod::undecodableArguments_data()
{
    QTest::addColumn<FeedArgument>("argument");
    QTest::newRow("unknown type") << FeedArgument("NoSuchType", "1234");
    QTest::newRow("short value") << FeedArgument("int", "12");
    QTest::newRow("long value") << FeedArgument("int", "123456");
    QTest::newRow("void") << FeedArgument("void", "");
}

void tst_FeedMethod::undecodableArguments()
{
    QFETCH(FeedArgument, argument);
    FeedMethod method("downloadFeedsFailed");
    method.addArgument(argument);
    QVERIFY(!argument.toVariant().isValid());
    QVERIFY(!method.hasDecodableArguments());
    QCOMPARE(method.genericArguments().at(0).data(), nullptr);
}

VIRELON_TEST_MAIN(tst_FeedMethod)

#include "tst_feedmethod.moc"

#include "feedchannel.h"
#include "feedmethod.h"
#include "feedtypes.h"
#include "testenvironment.h"

#include <QBuffer>

namespace {

FeedMethod recordWith(const FeedArgument& argument)
{
    FeedMethod method("downloadFeeds", 42);
    method.setReturnType("QString");
    method.addArgument(argument);
    for (int i = 1; i < FeedProtocol::ArgumentSlots; ++i)
        method.addArgument(FeedArgument());
    return method;
}

// A length prefix (the payload's own length when negative) before the payload.
QByteArray sized(qint64 size, const QByteArray& payload)
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << quint32(size < 0 ? payload.size() : size);
    return bytes + payload;
}

bool readFromDevice(const QByteArray& bytes, FeedMethod* method)
{
    QBuffer device;
    device.setData(bytes);
    return device.open(QIODevice::ReadOnly) && FeedMethod::readFrom(&device, method);
}

template<typename... Values>
QByteArray streamed(const Values&... values)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(FeedTypes::StreamVersion);
    (stream << ... << values);
    return bytes;
}

QByteArray payloadWith(quint32 count, const QByteArray& tail = QByteArray())
{
    return streamed(QByteArray("name"), QByteArray(), quint32(1), count) + tail;
}

} // namespace

class tst_FeedMethod : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void brokenRecords_data();
    void brokenRecords();
    void keptValueWritesItsBytes();
};

void tst_FeedMethod::initTestCase()
{
    FeedTypes::registerTypes();
    FeedMethod::registerTypes();
}

void tst_FeedMethod::roundTrip_data()
{
    QTest::addColumn<FeedArgument>("argument");
    QTest::addColumn<bool>("decodable");
    FeedChannel channel;
    channel.setUri("urn:channel:1");
    channel.setTitle(QString::fromUtf8("Nachrichten \xc3\xbc"));
    QTest::newRow("channel") << FeedArgument::fromValue(channel) << true;
    QTest::newRow("map") << FeedArgument::fromValue(QVariantMap{{"mimeType", "audio/mpeg"}, {"length", 12u}}) << true;
    QTest::newRow("int") << FeedArgument::fromValue(404) << true;
    QTest::newRow("qlonglong") << FeedArgument::fromValue(qlonglong(1) << 40) << true;
    QTest::newRow("no argument") << FeedArgument() << true;
    // Travels as it is; the receiver refuses it.
    QTest::newRow("unknown type") << FeedArgument("NoSuchType", "1234") << false;
    QTest::newRow("short value") << FeedArgument("int", "12") << false;
    QTest::newRow("long value") << FeedArgument("int", "123456") << false;
    QTest::newRow("void") << FeedArgument("void", "") << false;
    QTest::newRow("type no record carries") << FeedArgument("FeedMessage", streamed(FeedMessage())) << false;
    QTest::newRow("channel cut short") << FeedArgument("FeedChannel", streamed(channel).chopped(1)) << false;
    // Refused as before: Qt's map reader and the records' list reader reserve nothing for a count.
    const quint32 huge = 0x7fffffff;
    QTest::newRow("huge map count") << FeedArgument("QVariantMap", streamed(huge, QString(), QVariant(1u))) << false;
    const QByteArray channelHead = streamed(QString(), QString(), QString(), QString(), QString(), QString(),
                                            FeedEnclosure());
    QTest::newRow("huge message count") << FeedArgument("FeedChannel", channelHead + streamed(huge)) << false;
    // Fault guarded: Qt's list reader reserved room for the count it read, and aborted the reader.
    QTest::newRow("huge string list count") << FeedArgument("QStringList", streamed(huge, QString())) << false;
    const QByteArray listInMap = streamed(1u, QString(), quint32(QMetaType::QVariantList), qint8(0), huge);
    QTest::newRow("huge list count in a map") << FeedArgument("QVariantMap", listInMap) << false;
    // Fault guarded: maps nested deeply enough overflowed the reader's stack.
    QTest::newRow("map in a map") << FeedArgument::fromValue(QVariantMap{{"length", QVariantMap()}}) << false;
}

// Two records back to back read one after the other.
void tst_FeedMethod::roundTrip()
{
    QFETCH(FeedArgument, argument);
    QFETCH(bool, decodable);
    const FeedMethod written = recordWith(argument);
    const QByteArray bytes = FeedMethod::toByteArray(written);
    QDataStream stream(bytes + bytes);
    for (int i = 0; i < 2; ++i) {
        FeedMethod read;
        stream >> read;
        QCOMPARE(stream.status(), QDataStream::Ok);
        QCOMPARE(read.name() + read.returnType() + QByteArray::number(read.sequence()),
                 QByteArray("downloadFeedsQString42"));
        QCOMPARE(read.arguments(), written.arguments());
        QCOMPARE(read.hasDecodableArguments(), decodable);
        QCOMPARE(read.genericArguments().size(), FeedProtocol::ArgumentSlots);
        QCOMPARE(read.arguments().first().toVariant().isValid(), decodable && !argument.isEmpty());
        if (decodable)
            QCOMPARE(read.signature(), "downloadFeeds(" + argument.typeName() + ')');
        else
            QCOMPARE(read.genericArguments().at(0).data(), nullptr);
    }
    QVERIFY(stream.atEnd());
    // Straight from a device, the first of the two.
    FeedMethod decoded;
    QVERIFY(readFromDevice(bytes + bytes, &decoded));
    QCOMPARE(decoded.arguments(), written.arguments());
    QCOMPARE(FeedMethod::toByteArray(decoded), bytes);
    // A record cut short waits for its rest, having read nothing.
    for (int cut = 0; cut < bytes.size(); ++cut) {
        QVERIFY(!readFromDevice(bytes.left(cut), &decoded));
        QDataStream part(bytes.left(cut));
        part.startTransaction();
        FeedMethod read;
        part >> read;
        QVERIFY2(!part.commitTransaction(), qPrintable(QString::number(cut)));
        QCOMPARE(part.status(), QDataStream::ReadPastEnd);
        QCOMPARE(part.device()->pos(), qint64(0));
    }
}

void tst_FeedMethod::brokenRecords_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("oversized") << sized(FeedProtocol::MaximumRecordSize + 1, "....");
    QTest::newRow("text") << sized(8, "garbage!");
    QTest::newRow("bytes after the record") << sized(-1, payloadWith(0, "x"));
    QTest::newRow("too many arguments") << sized(-1, payloadWith(1000));
    QTest::newRow("missing argument") << sized(-1, payloadWith(2));
    QByteArray longValue;
    QDataStream value(&longValue, QIODevice::WriteOnly);
    value << QByteArray("int") << quint32(1000) << quint32(7);
    QTest::newRow("value longer than the record") << sized(-1, payloadWith(1, longValue));
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
    QVERIFY(!readFromDevice(bytes, &read));
    // Not even when what follows the record would make up for what it lacks.
    QVERIFY(!readFromDevice(bytes + QByteArray(2000, '\0'), &read));
}

// A value kept as it is writes what its stream operator writes, as if it had been bytes all along.
void tst_FeedMethod::keptValueWritesItsBytes()
{
    FeedChannel channel;
    QList<FeedMessage> messages{FeedMessage(), FeedMessage()};
    channel.setMessages(messages);
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(FeedTypes::StreamVersion);
    out << channel;
    const FeedArgument kept = FeedArgument::fromValue(channel);
    QCOMPARE(kept.value(), bytes);
    QCOMPARE(FeedMethod::toByteArray(recordWith(kept)),
             FeedMethod::toByteArray(recordWith(FeedArgument("FeedChannel", bytes))));
}

VIRELON_TEST_MAIN(tst_FeedMethod)

#include "tst_feedmethod.moc"

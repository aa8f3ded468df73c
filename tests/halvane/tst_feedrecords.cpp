#include "feedchannel.h"
#include "feedtypes.h"
#include "testenvironment.h"

#include <QTimeZone>

class tst_FeedRecords : public QObject
{
    Q_OBJECT

private slots:
    void streamRoundTrip();
    void falseCountsAreRefused_data();
    void falseCountsAreRefused();
    void enclosureEquality();
};

namespace {

FeedEnclosure fullEnclosure(const QString& suffix)
{
    FeedEnclosure enclosure;
    enclosure.setUri(QStringLiteral("urn:uuid:enc-") + suffix);
    enclosure.setRemoteUrl(QStringLiteral("http://example.com/päth/ünïcode %1.mp3").arg(suffix));
    enclosure.setLocalUrl(QStringLiteral("file:///home/user/MyDocs/.feed/enclosures/") + suffix);
    enclosure.setMimeType(QStringLiteral("audio/mpeg"));
    enclosure.setTypeIcon(QStringLiteral("audio-x-generic"));
    enclosure.setType(FeedEnclosure::Optional);
    enclosure.setLength(4294967295u);
    enclosure.setGroupId(7);
    enclosure.setDefault(true);
    return enclosure;
}

FeedMessage fullMessage(const QString& suffix)
{
    FeedMessage message;
    message.setTitle(QStringLiteral("Заголовок ") + suffix);
    message.setLink(QStringLiteral("http://example.com/item?id=") + suffix);
    message.setDescription(QStringLiteral("<p>描述 \"quoted\"</p>"));
    message.setSummary(QStringLiteral("summary ") + suffix);
    message.setBaseUrl(QStringLiteral("http://example.com/"));
    message.setPublishedDate(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), QTimeZone("America/New_York")));
    message.setDownloadedTime(QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::OffsetFromUTC, 19800));
    message.setFavorite(true);
    message.setEnclosures({fullEnclosure(suffix + QStringLiteral("a")), fullEnclosure(suffix + QStringLiteral("b"))});
    return message;
}

FeedChannel fullChannel()
{
    FeedChannel channel;
    channel.setUri(QStringLiteral("urn:uuid:channel"));
    channel.setLink(QStringLiteral("https://example.com/feed.xml"));
    channel.setTitle(QStringLiteral("Κανάλι"));
    channel.setDescription(QStringLiteral("A channel"));
    channel.setType(QStringLiteral("tamsil"));
    channel.setLastModifiedTime(QStringLiteral("Tue, 08 Dec 2026 10:00:00 GMT"));
    channel.setIcon(fullEnclosure(QStringLiteral("icon")));
    QList<FeedMessage> messages = {fullMessage(QStringLiteral("1")), fullMessage(QStringLiteral("2"))};
    channel.setMessages(messages);
    channel.setSubscribedTime(QDateTime(QDate(2025, 6, 1), QTime(12, 0), Qt::UTC));
    channel.setUpdatedTime(QDateTime(QDate(2026, 12, 8), QTime(9, 30), Qt::LocalTime));
    return channel;
}

// Every field as text; a date keeps its offset from UTC.
QString text(const QDateTime& time)
{
    return time.toString(Qt::ISODateWithMs);
}

QStringList fields(const FeedEnclosure& e)
{
    return {e.uri(), e.remoteUrl(), e.localUrl(), e.mimeType(), e.typeIcon(), QString::number(e.type()),
            QString::number(e.length()), QString::number(e.groupId()), QString::number(e.isDefault())};
}

QStringList fields(const FeedMessage& m)
{
    QStringList all = {m.title(), m.link(), m.description(), m.summary(), m.baseUrl(),
                       text(m.publishedDate()), text(m.downloadedTime()), QString::number(m.isFavorite())};
    for (const FeedEnclosure& enclosure : m.enclosures())
        all += fields(enclosure);
    return all;
}

QStringList fields(const FeedChannel& c)
{
    QStringList all = {c.uri(), c.link(), c.title(), c.description(), c.type(), c.lastModifiedTime(),
                       text(c.subscribedTime()), text(c.updatedTime())};
    all += fields(c.icon());
    for (const FeedMessage& message : c.messages())
        all += fields(message);
    return all;
}

} // namespace

// The contract between daemon and plug-in: records travel as variants by their registered names.
void tst_FeedRecords::streamRoundTrip()
{
    const FeedChannel channel = fullChannel();
    const FeedEnclosure enclosure = fullEnclosure(QStringLiteral("x"));
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(FeedTypes::StreamVersion);
    out << channel << QVariant::fromValue(channel) << QVariant::fromValue(enclosure);
    QCOMPARE(out.status(), QDataStream::Ok);

    QDataStream in(bytes);
    in.setVersion(FeedTypes::StreamVersion);
    FeedChannel direct;
    QVariant channelValue;
    QVariant enclosureValue;
    in >> direct >> channelValue >> enclosureValue;
    QCOMPARE(in.status(), QDataStream::Ok);
    QVERIFY(in.atEnd());
    QCOMPARE(fields(direct), fields(channel));
    QCOMPARE(channelValue.typeName(), "FeedChannel");
    QCOMPARE(fields(channelValue.value<FeedChannel>()), fields(channel));
    QCOMPARE(enclosureValue.typeName(), "FeedEnclosure");
    QCOMPARE(fields(enclosureValue.value<FeedEnclosure>()), fields(enclosure));
}

void tst_FeedRecords::falseCountsAreRefused_data()
{
    QTest::addColumn<quint32>("messages");
    QTest::addColumn<quint32>("enclosures");
    // Fault guarded: a count of this size made the reader reserve gigabytes and abort the daemon.
    QTest::newRow("huge message count") << quint32(0x10000000) << quint32(0);
    QTest::newRow("largest message count") << quint32(0xffffffff) << quint32(0);
    QTest::newRow("huge enclosure count") << quint32(1) << quint32(0x7fffffff);
    QTest::newRow("one message more than written") << quint32(2) << quint32(0);
}

// A channel stream of one message whose counts claim more than the bytes hold.
void tst_FeedRecords::falseCountsAreRefused()
{
    QFETCH(quint32, messages);
    QFETCH(quint32, enclosures);
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(FeedTypes::StreamVersion);
    for (int i = 0; i < 6; ++i)
        out << QStringLiteral("text");
    out << FeedEnclosure() << messages;
    const FeedMessage message = fullMessage(QStringLiteral("1"));
    out << message.title() << message.link() << message.description() << message.summary() << message.baseUrl()
        << message.publishedDate() << message.downloadedTime() << message.isFavorite() << enclosures;

    QDataStream in(bytes);
    in.setVersion(FeedTypes::StreamVersion);
    FeedChannel channel;
    in >> channel;
    QCOMPARE(in.status(), QDataStream::ReadPastEnd);
    QVERIFY(channel.messages().isEmpty());
}

// A record read from the store equals one fetched from a feed by the remote URL alone.
void tst_FeedRecords::enclosureEquality()
{
    const FeedEnclosure stored = fullEnclosure(QStringLiteral("a"));
    FeedEnclosure fetched;
    fetched.setRemoteUrl(stored.remoteUrl());
    QVERIFY(stored == fetched);
    fetched.setRemoteUrl(stored.remoteUrl().toUpper());
    QVERIFY(stored != fetched);
}

VIRELON_TEST_MAIN(tst_FeedRecords)
#include "tst_feedrecords.moc"

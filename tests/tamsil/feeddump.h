#ifndef FEEDDUMP_H
#define FEEDDUMP_H

#include <feedchannel.h>

#include <QString>

// A channel as stable, line-oriented text for golden files.
namespace FeedDump {

inline QString text(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return escaped;
}

inline QString date(const QDateTime& value)
{
    return value.isValid() ? value.toUTC().toString(Qt::ISODateWithMs) : QStringLiteral("invalid");
}

inline QString enclosure(const FeedEnclosure& enclosure)
{
    return QStringLiteral("%1 | type %2 | length %3 | group %4 | default %5 | kind %6")
        .arg(text(enclosure.remoteUrl()), text(enclosure.mimeType()))
        .arg(enclosure.length())
        .arg(enclosure.groupId())
        .arg(enclosure.isDefault() ? QStringLiteral("true") : QStringLiteral("false"))
        .arg(int(enclosure.type()));
}

inline QString channel(const FeedChannel& channel)
{
    QString out = QStringLiteral("uri: %1\nlink: %2\ntype: %3\ntitle: %4\ndescription: %5\nicon: %6\n")
                      .arg(text(channel.uri()), text(channel.link()), text(channel.type()), text(channel.title()),
                           text(channel.description()),
                           channel.icon().remoteUrl().isEmpty() ? QString() : enclosure(channel.icon()));
    const QList<FeedMessage> messages = channel.messages();
    for (int i = 0; i < messages.size(); ++i) {
        const FeedMessage& message = messages.at(i);
        out += QStringLiteral("message %1\n  title: %2\n  link: %3\n  published: %4\n  base: %5\n  summary: %6\n"
                              "  description: %7\n")
                   .arg(QString::number(i + 1), text(message.title()), text(message.link()),
                        date(message.publishedDate()), text(message.baseUrl()), text(message.summary()),
                        text(message.description()));
        for (const FeedEnclosure& attached : message.enclosures())
            out += QStringLiteral("  enclosure: %1\n").arg(enclosure(attached));
    }
    return out;
}

} // namespace FeedDump

#endif

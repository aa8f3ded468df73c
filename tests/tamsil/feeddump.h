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
    QString out;
    out += QStringLiteral("uri: %1\n").arg(text(channel.uri()));
    out += QStringLiteral("link: %1\n").arg(text(channel.link()));
    out += QStringLiteral("type: %1\n").arg(text(channel.type()));
    out += QStringLiteral("title: %1\n").arg(text(channel.title()));
    out += QStringLiteral("description: %1\n").arg(text(channel.description()));
    out += QStringLiteral("icon: %1\n").arg(channel.icon().remoteUrl().isEmpty() ? QString() : enclosure(channel.icon()));
    const QList<FeedMessage> messages = channel.messages();
    for (int i = 0; i < messages.size(); ++i) {
        const FeedMessage& message = messages.at(i);
        out += QStringLiteral("message %1\n").arg(i + 1);
        out += QStringLiteral("  title: %1\n").arg(text(message.title()));
        out += QStringLiteral("  link: %1\n").arg(text(message.link()));
        out += QStringLiteral("  published: %1\n").arg(date(message.publishedDate()));
        out += QStringLiteral("  base: %1\n").arg(text(message.baseUrl()));
        out += QStringLiteral("  summary: %1\n").arg(text(message.summary()));
        out += QStringLiteral("  description: %1\n").arg(text(message.description()));
        for (const FeedEnclosure& attached : message.enclosures())
            out += QStringLiteral("  enclosure: %1\n").arg(enclosure(attached));
    }
    return out;
}

} // namespace FeedDump

#endif

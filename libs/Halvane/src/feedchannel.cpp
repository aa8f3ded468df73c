#include "feedchannel.h"

#include "feedtypes.h"

#include <QDataStream>
#include <QDebug>

QDataStream& operator<<(QDataStream& stream, const FeedChannel& channel)
{
    return stream << channel._uri << channel._link << channel._title << channel._description
                  << channel._type << channel._lastModifiedTime << channel._icon << channel._messages
                  << channel._subscribedTime << channel._updatedTime;
}

QDataStream& operator>>(QDataStream& stream, FeedChannel& channel)
{
    stream >> channel._uri >> channel._link >> channel._title >> channel._description >> channel._type
           >> channel._lastModifiedTime >> channel._icon;
    FeedTypes::readList(stream, channel._messages);
    return stream >> channel._subscribedTime >> channel._updatedTime;
}

QDebug operator<<(QDebug debug, const FeedChannel& channel)
{
    return printChannel(debug, channel, channel.messages().size());
}

QDebug printChannel(QDebug debug, const FeedChannel& channel, int messageCount)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "FeedChannel(" << channel.uri() << ", " << channel.link() << ", "
                    << channel.title() << ", type " << channel.type() << ", last modified "
                    << channel.lastModifiedTime() << ", " << messageCount << " messages)";
    return debug;
}

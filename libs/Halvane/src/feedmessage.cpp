#include "feedmessage.h"

#include "feedtypes.h"

#include <QDataStream>
#include <QDebug>

QDataStream& operator<<(QDataStream& stream, const FeedMessage& message)
{
    return stream << message._title << message._link << message._description << message._summary
                  << message._baseUrl << message._publishedDate << message._downloadedTime
                  << message._favorite << message._enclosures;
}

QDataStream& operator>>(QDataStream& stream, FeedMessage& message)
{
    stream >> message._title >> message._link >> message._description >> message._summary
           >> message._baseUrl >> message._publishedDate >> message._downloadedTime >> message._favorite;
    FeedTypes::readList(stream, message._enclosures);
    return stream;
}

QDebug operator<<(QDebug debug, const FeedMessage& message)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "FeedMessage(" << message.title() << ", " << message.link() << ", published "
                    << message.publishedDate() << ", downloaded " << message.downloadedTime()
                    << (message.isFavorite() ? ", favourite" : "") << ", "
                    << message.enclosures().size() << " enclosures)";
    return debug;
}

#include "feedenclosure.h"

#include <QDataStream>
#include <QDebug>

QDataStream& operator<<(QDataStream& stream, const FeedEnclosure& enclosure)
{
    return stream << enclosure._uri << enclosure._remoteUrl << enclosure._localUrl
                  << enclosure._mimeType << enclosure._typeIcon << qint32(enclosure._type)
                  << quint32(enclosure._length) << quint32(enclosure._groupId) << enclosure._default;
}

QDataStream& operator>>(QDataStream& stream, FeedEnclosure& enclosure)
{
    qint32 type = 0;
    quint32 length = 0;
    quint32 groupId = 0;
    stream >> enclosure._uri >> enclosure._remoteUrl >> enclosure._localUrl >> enclosure._mimeType
           >> enclosure._typeIcon >> type >> length >> groupId >> enclosure._default;
    enclosure._type = type == FeedEnclosure::Optional ? FeedEnclosure::Optional : FeedEnclosure::Essential;
    enclosure._length = length;
    enclosure._groupId = groupId;
    return stream;
}

QDebug operator<<(QDebug debug, const FeedEnclosure& enclosure)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "FeedEnclosure(" << enclosure.uri() << ", " << enclosure.remoteUrl() << ", "
                    << enclosure.localUrl() << ", " << enclosure.mimeType() << ", "
                    << enclosure.typeIcon() << ", type " << int(enclosure.type()) << ", length "
                    << enclosure.length() << ", group " << enclosure.groupId()
                    << (enclosure.isDefault() ? ", default" : "") << ')';
    return debug;
}

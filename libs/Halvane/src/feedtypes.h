#ifndef FEEDTYPES_H
#define FEEDTYPES_H

#include <QDataStream>
#include <QIODevice>
#include <QList>

// The records cross the plug-in process boundary as data streams: both ends use this version.
namespace FeedTypes {

constexpr QDataStream::Version StreamVersion = QDataStream::Qt_5_15;

// Registers the records with the meta-type system, stream operators included. It runs by
// itself when the application object is made; calling it again is harmless.
void registerTypes();

// Reads a list as QDataStream's list operator writes it. Unlike that operator's reader it
// believes a count only as far as the bytes left hold elements of at least minimumSize bytes
// each: a broken or hostile count must not reserve gigabytes and abort the reader.
template<typename T>
void readList(QDataStream& stream, QList<T>& list, qint64 minimumSize)
{
    list.clear();
    quint32 count = 0;
    stream >> count;
    const qint64 fitting = stream.device() ? stream.device()->bytesAvailable() / minimumSize : 0;
    list.reserve(int(qMin<qint64>(count, fitting)));
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        list.append(T());
        stream >> list.last();
    }
    if (stream.status() != QDataStream::Ok)
        list.clear();
}

} // namespace FeedTypes

#endif

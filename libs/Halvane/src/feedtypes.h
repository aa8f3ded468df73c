#ifndef FEEDTYPES_H
#define FEEDTYPES_H

#include <QDataStream>
#include <QList>

// The records cross the plug-in process boundary as data streams: both ends use this version.
namespace FeedTypes {

constexpr QDataStream::Version StreamVersion = QDataStream::Qt_5_15;

// Registers the records with the meta-type system, stream operators included. It runs by
// itself when the application object is made; calling it again is harmless.
void registerTypes();

// A list's count is believed for reserving its room only this far; a longer list grows as its
// elements are read.
constexpr quint32 MaximumReservation = 1024;

// Reads a list as QDataStream's list operator writes it. Unlike that operator's reader it does not
// reserve what a count claims: a broken or hostile count must not reserve gigabytes and abort the
// reader.
template<typename T>
void readList(QDataStream& stream, QList<T>& list)
{
    list.clear();
    quint32 count = 0;
    stream >> count;
    list.reserve(int(qMin(count, MaximumReservation)));
    for (quint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        list.append(T());
        stream >> list.last();
    }
    if (stream.status() != QDataStream::Ok)
        list.clear();
}

} // namespace FeedTypes

#endif

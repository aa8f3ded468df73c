#ifndef FEEDTYPES_H
#define FEEDTYPES_H

#include <QDataStream>

// The records cross the plug-in process boundary as data streams: both ends use this version.
namespace FeedTypes {

constexpr QDataStream::Version StreamVersion = QDataStream::Qt_5_15;

// Registers the records with the meta-type system, stream operators included. It runs by
// itself when the application object is made; calling it again is harmless.
void registerTypes();

} // namespace FeedTypes

#endif

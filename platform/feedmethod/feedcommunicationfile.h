#ifndef FEEDCOMMUNICATIONFILE_H
#define FEEDCOMMUNICATIONFILE_H

#include <QString>

class QFile;

// The communication file lives under a predictable name, possibly in a shared directory, so
// both ends open it the same careful way: never through a symbolic link, only a regular file
// of our own user, created with mode 0600 and narrowed to it when it is wider. A missing
// folder (the last one of the path) is made with mode 0700.
namespace FeedCommunicationFile {

// Opens file (named already) read-write and unbuffered. On failure returns false and, when
// error is given, says why. A file opened through its handle forgets its name, so on success
// the file's object name holds the path.
bool open(QFile& file, QString* error = nullptr);

} // namespace FeedCommunicationFile

#endif

#ifndef FEEDCOMMUNICATIONFILE_H
#define FEEDCOMMUNICATIONFILE_H

#include <QString>

class FeedMethod;
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

// The file holds one record, the answer to a request, which may run to megabytes: it is written
// and read through a buffer straight from and into the record's values, never held as bytes.

// Replaces what the open file holds with record.
bool writeRecord(QFile& file, const FeedMethod& record);
// Reads the record the open file holds. A file larger than any record is refused unread, and
// error, when given, says so.
bool readRecord(QFile& file, FeedMethod* record, QString* error = nullptr);

} // namespace FeedCommunicationFile

#endif

#ifndef FEEDFILENAMEGENERATOR_H
#define FEEDFILENAMEGENERATOR_H

#include <QString>

// The local path of a file kept in the enclosure directory (channel icon, enclosure, image).
// The path depends on the remote URL alone, so a file fetched once is found again; a short
// hash of the whole URL keeps apart URLs that end in the same file name.
class FeedFilenameGenerator
{
public:
    FeedFilenameGenerator();
    ~FeedFilenameGenerator();

    QString generateFileName(const QString& remoteUrl) const;

private:
    QString _directory;
};

#endif

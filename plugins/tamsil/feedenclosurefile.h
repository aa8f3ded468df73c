#ifndef FEEDENCLOSUREFILE_H
#define FEEDENCLOSUREFILE_H

#include <QFile>

// The file an enclosure is downloaded into. It refuses a write that would leave less than the
// minimum free on its file system, so that no download fills the disk the device runs on.
class FeedEnclosureFile : public QFile
{
public:
    explicit FeedEnclosureFile(qint64 minimumFreeSpace);

    bool open(OpenMode mode) override;

protected:
    qint64 writeData(const char* data, qint64 length) override;

private:
    bool hasRoomFor(qint64 length);

    const qint64 _minimumFreeSpace;
    // What may still be written before the file system is asked again.
    qint64 _unchecked = 0;
};

#endif

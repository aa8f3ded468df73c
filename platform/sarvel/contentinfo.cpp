#include "contentinfo.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>

ContentInfo::ContentInfo(const QMimeType& type)
    : _type(type)
{
}

ContentInfo ContentInfo::forMime(const QString& mimeType)
{
    return ContentInfo(QMimeDatabase().mimeTypeForName(mimeType));
}

ContentInfo ContentInfo::forFile(const QUrl& url)
{
    const QString path = url.isLocalFile() ? url.toLocalFile() : url.path();
    const QFileInfo file(path);
    const QMimeDatabase::MatchMode mode = file.isFile() ? QMimeDatabase::MatchDefault
                                                        : QMimeDatabase::MatchExtension;
    return ContentInfo(QMimeDatabase().mimeTypeForFile(file, mode));
}

bool ContentInfo::isValid() const
{
    return _type.isValid() && !_type.isDefault();
}

QString ContentInfo::mimeType() const
{
    return isValid() ? _type.name() : QString();
}

QString ContentInfo::typeIcon() const
{
    return isValid() ? _type.iconName() : QString();
}

#ifndef CONTENTINFO_H
#define CONTENTINFO_H

#include <QMimeType>
#include <QString>

class QUrl;

// MIME type and type icon of a MIME name or a file, from the system's shared-mime-info.
// Only the default type (application/octet-stream) is found for anything unknown: such a
// lookup is invalid.
class ContentInfo
{
public:
    static ContentInfo forMime(const QString& mimeType);
    // A file that does not exist yet is judged by its name alone.
    static ContentInfo forFile(const QUrl& url);

    bool isValid() const;
    QString mimeType() const;
    QString typeIcon() const;

private:
    explicit ContentInfo(const QMimeType& type);

    QMimeType _type;
};

#endif

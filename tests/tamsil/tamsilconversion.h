#ifndef TAMSILCONVERSION_H
#define TAMSILCONVERSION_H

#include "tamsil.h"

// Runs the plug-in's conversion on a body without a download, as a fetched reply would.
class TamsilConversion
{
public:
    // The query file chosen, or an empty string when the body was not recognised.
    static QString queryFile(Tamsil& tamsil, const QByteArray& body, const QString& contentType)
    {
        tamsil._feedData = body;
        return tamsil.queryFileName(contentType);
    }

    // Converts the body with the query file the content type selects; false on failure.
    static bool convert(Tamsil& tamsil, const QByteArray& body, const QString& contentType,
                        const FeedChannel& request)
    {
        tamsil._requestChannel = request;
        tamsil._channel = request;
        tamsil._feedUrl = QUrl(request.link());
        const QString query = queryFile(tamsil, body, contentType);
        return !query.isEmpty() && tamsil.convertFeed(query);
    }
};

#endif

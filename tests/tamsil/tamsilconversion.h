#ifndef TAMSILCONVERSION_H
#define TAMSILCONVERSION_H

#include "feedxmlconverter.h"
#include "tamsil.h"

#include <QXmlSerializer>

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
        const QString query = start(tamsil, body, contentType, request);
        return !query.isEmpty() && tamsil.convertFeed(query);
    }

    // The same, but through the text entry of the converter: the query's output written out
    // as text and read back.
    static bool convertThroughText(Tamsil& tamsil, const QByteArray& body, const QString& contentType,
                                   const FeedChannel& request)
    {
        const QString queryFile = start(tamsil, body, contentType, request);
        QXmlQuery* query = queryFile.isEmpty() ? nullptr : tamsil.preparedQuery(queryFile);
        if (!query)
            return false;
        QBuffer output;
        output.open(QIODevice::WriteOnly);
        QXmlSerializer serializer(*query, &output);
        const bool evaluated = query->evaluateTo(&serializer);
        tamsil._queryInput.close();
        if (!evaluated || output.data().isEmpty())
            return false;
        FeedXmlConverter converter;
        converter.setDocumentUrl(tamsil._feedUrl.toString());
        converter.setSourceFeed(QString::fromUtf8(output.data()));
        return tamsil.convertToChannel(converter);
    }

private:
    static QString start(Tamsil& tamsil, const QByteArray& body, const QString& contentType,
                         const FeedChannel& request)
    {
        tamsil._requestChannel = request;
        tamsil._channel = request;
        tamsil._feedUrl = QUrl(request.link());
        return queryFile(tamsil, body, contentType);
    }
};

#endif

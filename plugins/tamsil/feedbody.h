#ifndef FEEDBODY_H
#define FEEDBODY_H

#include <QByteArray>
#include <QString>

class QTextCodec;

// A fetched feed body as the plug-in hands it to its query: in an encoding the query engine
// reads right, with what its prolog says before the root element, and how deep it nests.
class FeedBody
{
public:
    explicit FeedBody(const QByteArray& data);

    // The body in UTF-8, from its XML declaration on: the query engine misreads UTF-16 and UTF-32 without a byte-order
    // mark, and a body labelled Latin-1 or ASCII that holds other bytes is read as windows-1252,
    // as browsers read it.
    QByteArray forQuery() const { return _data; }
    // The local name of the root element; empty when the body has none that can be read.
    QString rootName() const { return _rootName; }
    bool declaresEntities() const { return _declaresEntities; }
    // How deep elements nest at most; reads the whole body.
    int depth() const;

private:
    void dropBlanksBeforeDeclaration();
    QTextCodec* sourceCodec() const;
    void decodeToUtf8();
    void readProlog();

    QByteArray _data;
    QString _rootName;
    bool _declaresEntities = false;
};

#endif

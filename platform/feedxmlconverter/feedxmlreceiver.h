#ifndef FEEDXMLRECEIVER_H
#define FEEDXMLRECEIVER_H

#include "feedxmlconverter.h"

#include <QAbstractXmlReceiver>
#include <QHash>
#include <QXmlName>
#include <QXmlNamePool>

// Hands a query's output straight to a converter, event by event: the common form is never
// written out as text and read back. The converter starts afresh when the receiver is made.
class FeedXmlReceiver : public QAbstractXmlReceiver
{
public:
    FeedXmlReceiver(FeedXmlConverter* converter, const QXmlNamePool& namePool);

    // Whether the query gave any output at all.
    bool hasOutput() const { return _output; }

    void startElement(const QXmlName& name) override;
    void endElement() override;
    void attribute(const QXmlName& name, const QStringRef& value) override;
    void characters(const QStringRef& value) override;
    void atomicValue(const QVariant& value) override;
    void comment(const QString& value) override;
    void processingInstruction(const QXmlName& target, const QString& value) override;
    void namespaceBinding(const QXmlName& name) override;
    void startDocument() override;
    void endDocument() override;
    void startOfSequence() override;
    void endOfSequence() override;

private:
    struct Name
    {
        QString namespaceUri;
        QString prefix;
        QString localName;
    };

    const Name& nameOf(const QXmlName& name);
    void flushStart();
    void text(const QStringRef& value);

    FeedXmlConverter* _converter;
    QXmlNamePool _namePool;
    // The pool's look-ups take a lock: each name is looked up once.
    QHash<QXmlName, Name> _names;
    // Attributes follow their element's start: the start waits for them. Below an element that
    // the converter passes over, names and attributes are not looked at.
    bool _startPending = false;
    bool _pendingSkipped = false;
    Name _pendingName;
    FeedXmlAttributes _pendingAttributes;
    bool _afterAtomicValue = false;
    bool _output = false;
};

#endif

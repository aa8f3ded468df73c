#include "feedxmlreceiver.h"

#include <QVariant>

FeedXmlReceiver::FeedXmlReceiver(FeedXmlConverter* converter, const QXmlNamePool& namePool)
    : _converter(converter)
    , _namePool(namePool)
{
    _converter->begin();
}

const FeedXmlReceiver::Name& FeedXmlReceiver::nameOf(const QXmlName& name)
{
    auto found = _names.find(name);
    if (found == _names.end())
        found = _names.insert(name, {name.namespaceUri(_namePool), name.prefix(_namePool), name.localName(_namePool)});
    return *found;
}

void FeedXmlReceiver::flushStart()
{
    if (!_startPending)
        return;
    _startPending = false;
    if (_pendingSkipped)
        _converter->startElement(QString(), QString(), FeedXmlAttributes());
    else
        _converter->startElement(_pendingName.namespaceUri, _pendingName.localName, _pendingAttributes);
}

void FeedXmlReceiver::startElement(const QXmlName& name)
{
    flushStart();
    _output = true;
    _startPending = true;
    _pendingSkipped = _converter->isSkipping();
    if (!_pendingSkipped)
        _pendingName = nameOf(name);
    _pendingAttributes.clear();
    _afterAtomicValue = false;
}

void FeedXmlReceiver::endElement()
{
    flushStart();
    _converter->endElement();
    _afterAtomicValue = false;
}

void FeedXmlReceiver::attribute(const QXmlName& name, const QStringRef& value)
{
    if (_pendingSkipped)
        return;
    const Name& attributeName = nameOf(name);
    _pendingAttributes.append({attributeName.namespaceUri, attributeName.prefix, attributeName.localName,
                               value.toString()});
}

void FeedXmlReceiver::characters(const QStringRef& value)
{
    text(value);
    _afterAtomicValue = false;
}

// Atomic values in an element's content become its text, one blank between neighbours.
void FeedXmlReceiver::atomicValue(const QVariant& value)
{
    static const QString blank = QStringLiteral(" ");
    if (_afterAtomicValue)
        text(QStringRef(&blank));
    const QString valueText = value.toString();
    text(QStringRef(&valueText));
    _afterAtomicValue = true;
}

void FeedXmlReceiver::text(const QStringRef& value)
{
    flushStart();
    _output = true;
    _converter->characters(value);
}

void FeedXmlReceiver::comment(const QString&)
{
    flushStart();
}

void FeedXmlReceiver::processingInstruction(const QXmlName&, const QString&)
{
    flushStart();
}

void FeedXmlReceiver::namespaceBinding(const QXmlName&)
{
}

void FeedXmlReceiver::startDocument()
{
}

void FeedXmlReceiver::endDocument()
{
}

void FeedXmlReceiver::startOfSequence()
{
}

void FeedXmlReceiver::endOfSequence()
{
    flushStart();
}

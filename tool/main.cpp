#include "channelcommands.h"
#include "enclosurecommands.h"
#include "enginecommands.h"
#include "keywords.h"
#include "messagecommands.h"
#include "settingscommands.h"
#include "signalcommands.h"
#include "toolframe.h"

#include <QCoreApplication>
#include <QPair>

namespace {

// Program, object word, operation word.
const int MinOptionCount = 3;

using Handler = int (*)();

// The object words and their handlers, in the order they are compared.
const QList<QPair<QString, Handler>>& handlers()
{
    static const QList<QPair<QString, Handler>> table = {
        {Keyword::Channel, handleChannelOperations},
        {Keyword::Message, handleMessageOperations},
        {Keyword::Enclosure, handleEnclosureOperations},
        {Keyword::Settings, handleSettingsOperations},
        {Keyword::Error, handleErrorOperations},
        {Keyword::Signal, handleSignalOperations},
        {Keyword::State, printEngineState},
        {Keyword::Transfer, handleTransferOperations},
    };
    return table;
}

int dispatch(int argc)
{
    const QString object = word(1);
    if (object == Keyword::Help) {
        printUsage();
        return Done;
    }
    if (argc < MinOptionCount) {
        NORVIX_DIAGNOSTIC << "argc :" << argc << "  MinOptionCount : " << MinOptionCount;
        printUsage();
        return Misused;
    }
    for (const auto& handler : handlers()) {
        if (object == handler.first)
            return handler.second();
    }
    printUsage();
    return Misused;
}

} // namespace

int main(int argc, char** argv)
{
    trace("int main(int, char**)");
    QCoreApplication app(argc, argv);
    NORVIX_DIAGNOSTIC << "Total Arg count :" << argc;
    return dispatch(argc);
}

#include "enginecommands.h"

#include "daemonrequest.h"
#include "keywords.h"
#include "toolframe.h"
#include "virelonservice.h"

#include <QCoreApplication>
#include <QVariantMap>

namespace {

// Program, command, kind, target.
const int ErrorWordCount = 4;
// Program, command, transfer id.
const int TransferWordCount = 3;

using StatusCall = QVariantMap (VirelonService::*)(const QStringList&);

// The status of every entry ("all", as typed) or of one URI.
int printStatus(StatusCall call, const char* label, const QString& target)
{
    const bool all = target == Keyword::All;
    QVariantMap status;
    const int result = NORVIX_REQUEST_DAEMON([&](VirelonService* engine) {
        status = (engine->*call)(all ? QStringList() : QStringList{target});
    });
    if (result != Done)
        return result;
    if (all) {
        output() << "All Errors:";
        output() << status;
    } else {
        output() << label << target << "Error: " << status;
    }
    return Done;
}

} // namespace

// Kind and target are compared as typed: "all" in capitals is asked for as a URI.
int handleErrorOperations()
{
    trace("void handleErrorOperations()");
    const QStringList arguments = QCoreApplication::arguments();
    NORVIX_DIAGNOSTIC << "arg size is : " << arguments.size();
    const QString kind = arguments.value(2);
    if (arguments.size() != ErrorWordCount || (kind != Keyword::Channel && kind != Keyword::Enclosure)) {
        printUsage();
        return Misused;
    }
    if (kind == Keyword::Channel)
        return printStatus(&VirelonService::channelStatus, "Channel: ", arguments.at(3));
    return printStatus(&VirelonService::enclosureStatus, "Enclosure: ", arguments.at(3));
}

int printEngineState()
{
    int state = 0;
    const int result = NORVIX_REQUEST_DAEMON([&](VirelonService* engine) { state = engine->state(); });
    if (result == Done)
        output() << "Engine State : " << state;
    return result;
}

int handleTransferOperations()
{
    trace("void handleTransferOperations()");
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != TransferWordCount) {
        printUsage();
        return Misused;
    }
    const QString transferId = arguments.at(2);
    output() << "Transfer ID : " << transferId;
    // The field codes belong to the transfer list; they go in its order.
    const QStringList fields = {QStringLiteral("4"), QStringLiteral("1"),  QStringLiteral("2"),
                                QStringLiteral("7"), QStringLiteral("8"),  QStringLiteral("9"),
                                QStringLiteral("10"), QStringLiteral("11")};
    QVariantMap details;
    const int result =
        NORVIX_REQUEST_DAEMON([&](VirelonService* engine) { details = engine->transferDetails(transferId, fields); });
    if (result == Done)
        output() << details;
    return result;
}

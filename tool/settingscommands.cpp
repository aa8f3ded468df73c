#include "settingscommands.h"

#include "daemonrequest.h"
#include "feedsettingservice.h"
#include "keywords.h"
#include "toolframe.h"

#include <QCoreApplication>
#include <QVariantMap>

int handleSettingsOperations()
{
    trace("void handleSettingsOperations()");
    const QString operation = word(2);
    NORVIX_DIAGNOSTIC << "Operation :" << operation;
    if (operation == Keyword::List)
        return listSettings();
    if (operation == Keyword::Set)
        return setSettings();
    printUsage();
    return Misused;
}

int listSettings()
{
    trace("void listSettings()");
    QVariantMap settings;
    const int status = NORVIX_REQUEST_SETTINGS([&](FeedSettingService* service) { settings = service->conf(); });
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        output() << it.key() << ":" << it.value().toString();
    return status;
}

// Every value goes as the text typed: which keys and values to take is the daemon's judgement.
int setSettings()
{
    QVariantMap settings;
    const QStringList arguments = QCoreApplication::arguments();
    for (int i = FirstAttribute; i < arguments.size(); ++i) {
        const QStringList pair = splitKeyValue(arguments.at(i));
        settings.insert(pair.at(0), pair.at(1));
    }
    output() << "Going to set following settings now: ";
    output() << settings;
    return NORVIX_REQUEST_SETTINGS([&](FeedSettingService* service) { service->setConf(settings); });
}

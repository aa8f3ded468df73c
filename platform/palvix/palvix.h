#ifndef PALVIX_H
#define PALVIX_H

#include <QtGlobal>

class FeedSettingService;
class VirelonService;

// The daemon's client: each instance() is a new object that the caller owns and deletes; the
// two services belong to it and live as long as it does.
class Palvix
{
public:
    static Palvix* instance();
    virtual ~Palvix();

    VirelonService* engine() const { return _engine; }
    FeedSettingService* settings() const { return _settings; }

private:
    Q_DISABLE_COPY(Palvix)

    Palvix();

    VirelonService* _engine;
    FeedSettingService* _settings;
};

#endif

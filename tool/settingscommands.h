#ifndef SETTINGSCOMMANDS_H
#define SETTINGSCOMMANDS_H

// "norvix settings ...": the daemon's settings listed or set. Each returns the exit status.
int handleSettingsOperations();
int listSettings();
int setSettings();

#endif

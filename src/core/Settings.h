#pragma once

#include <QString>

// The runtime settings of the program. Each has a build-time default and an environment override of the same
// name, read once on first use. Nothing else in the program reads the environment.
class Settings
{
public:
    static QString apiHost();
    static QString uploadHost();
    static QString logFile();
    static QString camera();
    // Names the channel through which a new start asks the running copy to hand over (AMBREL_INSTANCE): copies
    // with different names never see each other (tests give each run its own).
    static QString instanceName();

    // Re-read the environment (tests change it between cases).
    static void reload();

private:
    Settings() = default;
};

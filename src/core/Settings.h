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
    // A PEM file of extra certificate authorities trusted besides the system's (empty: none).
    static QString caFile();

    // Re-read the environment (tests change it between cases).
    static void reload();

private:
    Settings() = default;
};

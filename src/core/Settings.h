#pragma once

#include <QString>

// The runtime settings of the program, read once on first use. Each key ("api_host") is looked up, in this order,
// in the environment (AMBREL_ + the key in upper case), the configuration files (the [General] group of the user's
// and then the system's AmbrelClient/AmbrelClient.conf; on Windows the registry, machine then user), and finally
// the build-time default. The first place that holds the key wins, even with an empty value. Nothing else in the
// program reads the environment or these files.
class Settings
{
public:
    enum class Source
    {
        Environment,
        UserFile,
        SystemFile,
        BuildDefault,
    };

    static QString apiHost();
    static QString uploadHost();
    static QString logFile();
    static QString camera();
    // A PEM file of extra certificate authorities trusted besides the system's (empty: none).
    static QString caFile();
    // Names the channel through which a new start asks the running copy to hand over (AMBREL_INSTANCE): copies
    // with different names never see each other (tests give each run its own).
    static QString instanceName();

    // Any known key by name; empty for an unknown one.
    static QString value(const QString& key);
    static Source source(const QString& key);
    // "api_host=http://... (system file /etc/xdg/AmbrelClient/AmbrelClient.conf)": what the log says at start.
    static QString describe(const QString& key);

    // Where the user's and the system's settings are read from (a file path, or a registry key on Windows).
    static QString userLocation();
    static QString systemLocation();

    // Re-read everything (tests change the environment and the files between cases).
    static void reload();

private:
    Settings() = default;
};

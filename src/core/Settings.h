#pragma once

#include <QString>
#include <QStringList>

// The runtime settings of the program, read once on first use. Each key ("api_host") is looked up, in this order,
// in the environment (AMBREL_ + the key in upper case), the configuration files (the user's and then the system's
// AmbrelClient/AmbrelClient.conf; on Windows the registry, machine then user), and finally the build-time default.
// The first place that holds the key wins, even with an empty value. Nothing else in the program reads the
// environment or these files.
//
// The files are read the way people write them: "#" and ";" comment lines, blank lines, keys in the [General]
// group or before any group. A line that cannot be read is skipped and named in problems(); every other key of the
// file still counts.
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
    // Downloaded pages and thumbnails of a task not opened for this many days are removed at start; 0 keeps
    // everything. A value that is not a whole number of days counts as the build default.
    static int keepDays();
    // Whether the capture page photographs new sheets by itself; remembered in the user's file.
    static bool autoShot();
    static void setAutoShot(bool on);

    // Any known key by name; empty for an unknown one.
    static QString value(const QString& key);
    static Source source(const QString& key);
    // "api_host=http://... (system file /etc/xdg/AmbrelClient/AmbrelClient.conf)": what the log says at start.
    static QString describe(const QString& key);
    // The lines of the settings files that could not be read, each naming its file and line.
    static QStringList problems();

    // Writes a known key into the user's file, keeping the file's other lines and comments. The value is used
    // from then on unless a place that outranks the user's file holds the key.
    static bool setValue(const QString& key, const QString& value);

    // Where the user's and the system's settings are read from (a file path, or a registry key on Windows).
    static QString userLocation();
    static QString systemLocation();

    // Re-read everything (tests change the environment and the files between cases).
    static void reload();

private:
    Settings() = default;
};

#pragma once

#include <QString>

#include "core/TaskDatabase.h"

// Which URL each downloaded file of a task was fetched from, kept in the task database so that it survives a
// restart. Two URLs that end in the same name ("…/S1/1.png", "…/S2/1.png") must never share a local file: the
// first to claim a name keeps it, the next gets the name derived from its whole URL. A file found on disk counts as
// a URL's copy only when the name was recorded for that URL.
class FileNameClaims : public TaskDatabase
{
public:
    struct Claim
    {
        QString fileName;
        // Recorded just now: whatever lies under that name belongs to no URL and must be fetched again.
        bool fresh = false;
    };

    // The file name of url in folder (a folder below the task's save folder; empty for that folder itself).
    // Without an open database it is the derived name, which no other URL can have.
    Claim claim(const QString& folder, const QString& url);
    // Forgets url's name in folder, so that the next claim is fresh again and what lies under the name is fetched
    // anew.
    void release(const QString& folder, const QString& url);

private:
    QString recorded(const QString& folder, const QString& url) const;
};

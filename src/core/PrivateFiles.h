#pragma once

class QString;

// Student photos, downloaded answer sheets, the task databases and the log are personal data: on a computer shared
// by several accounts they are readable by their owner alone. On Linux folders become 0700 and files 0600; on
// Windows the user's profile already keeps them private and nothing changes.
namespace PrivateFiles {

// From now on, every file and folder this process creates is its owner's alone.
void restrictNewFiles();

// The file, or the folder and everything below it (links are not followed), made its owner's alone.
void restrict(const QString& path);

// At start: restrictNewFiles(), then "image/" and "save/" below the working folder and the log file as they are.
void protectWorkingData();

// The system's own part, one implementation per system: making one entry private, and the creation mask.
namespace Platform {
void restrictEntry(const QString& path);
void restrictNewFiles();
} // namespace Platform

} // namespace PrivateFiles

#pragma once

class QString;

// An independent statement of what a local file or folder name from the service must be, written without the
// code under test: checked against every name that code derives.
namespace PlainName {

// Joined to a folder path, the name stays inside that folder on Windows and on Linux.
bool staysInFolder(const QString& name);

} // namespace PlainName

#pragma once

#include <QString>

// Names of local files and folders that come from the service. A name is used as it is only when it is a plain
// name on every file system we run on; anything else (empty, ".", "..", separators, drive colons, characters
// Windows refuses, device names) could leave the target folder, so it is replaced by a digest of the source text.
namespace SafeFileName {

// Whether name can be joined to a folder path without leaving that folder.
bool isPlain(const QString& name);

// The local file name of an image URL: the part before the first "?", then the part after the last "/". When
// that is not a plain name: the lowercase hex MD5 of the whole URL plus the name's extension (when that extension
// is short and alphanumeric).
QString fromUrl(const QString& url);

// The name fromUrl falls back to, whatever the URL's own name: unique to the URL. A later attempt (1, 2, ...)
// gives another name for the rare case that the first is taken already.
QString derivedName(const QString& url, int attempt = 0);

// A folder name taken from a service value (a student id): the value itself when plain, else its hex MD5.
QString folderName(const QString& value);

} // namespace SafeFileName

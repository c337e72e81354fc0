#include <QRegularExpression>

#include "FuzzSupport.h"
#include "PlainName.h"
#include "service/SafeFileName.h"

// A name derived from a URL or a service value never leaves its folder: no separator, never "." or "..", no
// device name, no line end. A last URL segment that is already plain is kept as it is; any other name is the
// URL's hex digest plus a short alphanumeric extension.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = FuzzSupport::text(data, size);

    if (SafeFileName::isPlain(text))
        FUZZ_CHECK(PlainName::staysInFolder(text));

    const QString folder = SafeFileName::folderName(text);
    FUZZ_CHECK(PlainName::staysInFolder(folder));
    FUZZ_CHECK(SafeFileName::isPlain(folder));

    const QString name = SafeFileName::fromUrl(text);
    FUZZ_CHECK(PlainName::staysInFolder(name));
    FUZZ_CHECK(SafeFileName::isPlain(name));
    const QString path = text.section(QLatin1Char('?'), 0, 0);
    const QString lastSegment = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name != lastSegment) {
        static const QRegularExpression digestName(QStringLiteral("\\A[0-9a-f]{32}(\\.[A-Za-z0-9]{1,8})?\\z"));
        FUZZ_CHECK(digestName.match(name).hasMatch());
    }
    return 0;
}

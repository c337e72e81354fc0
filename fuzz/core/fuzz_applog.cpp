#include <QList>
#include <QStringList>

#include "FuzzSupport.h"
#include "core/AppLog.h"

namespace {

const char kSecret[] = "Zq7secretQz";

bool endsValue(ushort c)
{
    return c == '&' || c == ' ' || (c >= '\t' && c <= '\r');
}

// Every "token=" parameter of the text (at the start, or after "&" or "?") has the value "***".
bool everyTokenHidden(const QString& text)
{
    const QString key = QStringLiteral("token=");
    for (int at = text.indexOf(key); at >= 0; at = text.indexOf(key, at + 1)) {
        if (at > 0 && text.at(at - 1) != QLatin1Char('&') && text.at(at - 1) != QLatin1Char('?'))
            continue;
        int end = at + key.size();
        while (end < text.size() && !endsValue(text.at(end).unicode()))
            ++end;
        if (text.mid(at + key.size(), end - at - key.size()) != QLatin1String("***"))
            return false;
    }
    return true;
}

} // namespace

// The token never survives redaction: a "token=" parameter put anywhere into any text (lone surrogates and NUL
// characters included) is gone from the result, every "token=" parameter left reads "***", and a text without
// one is left as it was; nor does the password of a URL put anywhere. A launch argument's log line holds no control
// byte and "***" as its second piece.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QString text = FuzzSupport::text(data + 1, size - 1);
    if (text.contains(QLatin1String(kSecret)))
        return 0;

    const QString redacted = AppLog::redactToken(text);
    FUZZ_CHECK(everyTokenHidden(redacted));
    if (!text.contains(QLatin1String("token=")))
        FUZZ_CHECK(redacted == text);

    const int at = text.isEmpty() ? 0 : data[0] % (text.size() + 1);
    const QString planted = text.left(at) + QStringLiteral("&token=") + QLatin1String(kSecret) + text.mid(at);
    FUZZ_CHECK(!AppLog::redactToken(planted).contains(QLatin1String(kSecret)));
    const QByteArray plantedBytes = planted.toUtf8();
    FUZZ_CHECK(!AppLog::redactToken(plantedBytes).contains(kSecret));

    // Whoever writes an entry, a URL's password never reaches the log.
    const QString withPassword = text.left(at) + QStringLiteral("http://user:") + QLatin1String(kSecret) +
                                 QStringLiteral("@host/") + text.mid(at);
    FUZZ_CHECK(!AppLog::redact(withPassword).contains(QLatin1String(kSecret)));

    const QByteArray argument = FuzzSupport::bytes(data + 1, size - 1);
    const QString line = AppLog::redactLaunchArgument(argument);
    for (const QChar c : line)
        FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    const QStringList pieces = line.split(QLatin1Char('_'));
    if (pieces.size() >= 2)
        FUZZ_CHECK(pieces.at(1) == QLatin1String("***"));
    return 0;
}

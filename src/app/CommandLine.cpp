#include "app/CommandLine.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include "app/StartUp.h"
#include "core/LaunchContext.h"

namespace {

// The options QGuiApplication and QApplication take out of argv themselves, with a value after them...
const char* const kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry", "qwindowtitle",
    "title",    "qwindowicon",        "icon",          "style",  "stylesheet",      "session",  "display",
    "name",     "qmljsdebugger"};
// ... and without one.
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

// Whether the argument is one of Qt's own options; *takesNext when its value is the next argument.
bool isQtOption(const QByteArray& argument, QByteArray* name, bool* takesNext)
{
    // Qt accepts "--platform" as well as "-platform", and "-style=fusion".
    QByteArray option = argument.startsWith("--") ? argument.mid(2) : argument.mid(1);
    if (!argument.startsWith('-') || option.isEmpty())
        return false;
    const int equals = option.indexOf('=');
    if (equals >= 0)
        option.truncate(equals);
    *name = option;
    for (const char* known : kQtOptionsWithValue) {
        if (option == known) {
            *takesNext = equals < 0;
            return true;
        }
    }
    for (const char* known : kQtFlags) {
        if (option == known && equals < 0) {
            *takesNext = false;
            return true;
        }
    }
    return false;
}

// Whether a window could be shown to someone. The offscreen and minimal platforms show nothing, and without a display
// to connect to, the X11 and Wayland platforms end the program on creating the application object.
bool canShowWindows(const QByteArray& platformOption)
{
    const QByteArray chosen = platformOption.isNull() ? qgetenv("QT_QPA_PLATFORM") : platformOption;
    const QByteArray platform = chosen.left(chosen.indexOf(':')).trimmed();
    if (platform == "offscreen" || platform == "minimal")
        return false;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (platform.isEmpty())
        return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (platform == "xcb")
        return qEnvironmentVariableIsSet("DISPLAY");
    if (platform.startsWith("wayland"))
        return qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
#endif
    return true;
}

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("AmbrelClient"));
    QCoreApplication::setApplicationVersion(QStringLiteral(AMBREL_VERSION));
}

void print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    if (!bytes.endsWith('\n'))
        std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

void CommandLine::describeOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("岚栖阅卷客户端：把批改好的答题卡拍照或导入后上传到阅卷服务。\n"
                                                    "通常由阅卷网站通过 ambrel:// 链接打开。"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("link"),
                                 QStringLiteral("阅卷网站给出的链接：ambrel://任务号_令牌_用户号_标题"),
                                 QStringLiteral("<link>"));
}

CommandLine CommandLine::read(int argc, char** argv)
{
    nameApplication();
    CommandLine line;
    QByteArray platform;
    QStringList texts;
    for (int i = 0; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        QByteArray name;
        bool takesNext = false;
        if (i > 0 && isQtOption(argument, &name, &takesNext)) {
            QByteArray value = argument.mid(argument.indexOf('=') + 1);
            if (takesNext)
                value = ++i < argc ? QByteArray(argv[i]) : QByteArray();
            if (name == "platform")
                platform = value;
            continue;
        }
        if (i > 0 && line.linkIndex == 0 && !argument.startsWith('-'))
            line.linkIndex = i;
        line.arguments << argument;
        texts << QString::fromLocal8Bit(argument);
    }

    QCommandLineParser parser;
    describeOptions(parser);
    const bool parsed = parser.parse(texts);
    const bool asksForHelp =
        parsed && (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")));
    const bool asksForVersion = parsed && parser.isSet(QStringLiteral("version"));
    const QByteArray link = line.linkIndex > 0 ? QByteArray(argv[line.linkIndex]) : QByteArray();
    const bool linkNamesTask = LaunchContext::parse(link).isComplete();
    if (parsed && !asksForHelp && !asksForVersion && linkNamesTask)
        return line;

    // Every answer below is text: an application object without a display gives it in Chinese, and names the
    // program in the help as the user typed it (argv[0]).
    QCoreApplication application(argc, argv);
    StartUp::installQtTranslations(&application);
    QCommandLineParser translated;
    describeOptions(translated);
    translated.parse(texts);
    line.ends = true;
    if (!parsed) {
        print(stderr, translated.errorText());
        line.status = StartUp::UsageError;
    } else if (asksForHelp) {
        print(stdout, translated.helpText());
    } else if (asksForVersion) {
        print(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion());
    } else {
        print(stderr, StartUp::invalidLinkText());
        line.status = StartUp::InvalidLink;
        // Where a window can be shown the teacher, who started the program from the browser, sees the hint too.
        line.ends = !canShowWindows(platform);
    }
    return line;
}

void CommandLine::hideToken(char* argument)
{
    // The token is the second "_"-separated piece of the link once percent-decoded (LaunchContext::percentDecode):
    // walk the bytes as it decodes them, so that an encoded "_" (%5F) separates too and every byte that spells the
    // token, escapes included, is covered.
    const size_t size = std::strlen(argument);
    int piece = 0;
    for (size_t i = 0; i < size && piece < 2;) {
        size_t width = 1;
        char decoded = argument[i];
        if (argument[i] == '%' && i + 2 < size && std::isxdigit(uchar(argument[i + 1])) &&
            std::isxdigit(uchar(argument[i + 2]))) {
            const char escaped = char(QByteArray(argument + i + 1, 2).toInt(nullptr, 16));
            // "%00" is kept as it is by the decoder.
            if (escaped != 0) {
                decoded = escaped;
                width = 3;
            }
        }
        if (decoded == '_')
            ++piece;
        else if (piece == 1)
            std::memset(argument + i, '*', width);
        i += width;
    }
}

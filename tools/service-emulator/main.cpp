#include <atomic>
#include <csignal>
#include <cstdio>

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QTimer>

#include "ServiceEmulator.h"

namespace {

std::atomic<bool> g_quitRequested{false};

void requestQuit(int)
{
    g_quitRequested = true;
}

void print(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    // The demo script reads the address from our redirected output while we run.
    std::fflush(stdout);
}

int fail(const QString& message)
{
    std::fputs((QStringLiteral("ambrel-service-emulator: ") + message + "\n").toLocal8Bit().constData(), stderr);
    return 2;
}

bool readInt(const QCommandLineParser& parser, const QString& name, int minimum, int* value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const int parsed = parser.value(name).toInt(&ok);
    if (!ok || parsed < minimum)
        return false;
    *value = parsed;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // Thumbnails and demo pages are drawn with fonts, which need a GUI application; no window is ever shown.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ambrel-service-emulator"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The grading service and the object store in miniature, on 127.0.0.1, for the client's demo and tests."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port to listen on (default: a free one)."), QStringLiteral("port")},
        {QStringLiteral("storage"), QStringLiteral("Folder for stored objects (default: a temporary folder)."),
         QStringLiteral("dir")},
        {QStringLiteral("seed-demo"), QStringLiteral("Start with a task that has analysed and failed students.")},
        {QStringLiteral("task"), QStringLiteral("Task id seeded by --seed-demo (default: demo-task)."),
         QStringLiteral("id"), QStringLiteral("demo-task")},
        {QStringLiteral("uid"), QStringLiteral("Accept only this uid (default: any)."), QStringLiteral("uid")},
        {QStringLiteral("token"), QStringLiteral("Accept only this service token (default: any non-empty one)."),
         QStringLiteral("token")},
        {QStringLiteral("step-ms"),
         QStringLiteral("Interval of the simulated analysis steps in ms; 0 stops it (default: 2000)."),
         QStringLiteral("ms"), QStringLiteral("2000")},
        {QStringLiteral("pages-per-student"), QStringLiteral("Announced images per student (default: 2)."),
         QStringLiteral("n")},
        {QStringLiteral("fail-every"), QStringLiteral("Every n-th announced image fails; 0: none (default: 5)."),
         QStringLiteral("n")},
        {QStringLiteral("analyse-per-step"), QStringLiteral("Waiting images analysed per step (default: 1)."),
         QStringLiteral("n")},
        {QStringLiteral("proofread-per-step"), QStringLiteral("Analysed images proofread per step (default: 1)."),
         QStringLiteral("n")},
        {QStringLiteral("warn-every"), QStringLiteral("Every n-th student gets a warning; 0: none (default: 3)."),
         QStringLiteral("n")},
        {QStringLiteral("fault"),
         QStringLiteral("Inject a fault, repeatable: ENDPOINT:KIND[:VALUE[:TIMES]]. ENDPOINT: token, analyse, "
                        "paper_status, zero_proofread, replenish, answer_info, with_page, upload, files. KIND: "
                        "delay:MS, hang:MS, status:HTTP, nonjson, array, empty, percent, drop, code[:CODE], nocode, "
                        "upload:STATUS, endless[:KB]. TIMES: how many requests (default: all)."),
         QStringLiteral("spec")},
        {QStringLiteral("tls"),
         QStringLiteral("Serve HTTPS with this certificate and private key (two PEM files, given as --tls CERT KEY)."),
         QStringLiteral("CERT KEY")},
        {QStringLiteral("refuse-file"),
         QStringLiteral("The store answers 413 to every upload of a file of this name (default: none)."),
         QStringLiteral("name")},
        {QStringLiteral("quiet"), QStringLiteral("Do not print each request.")},
    });
    // --tls takes two values, which the parser cannot: they are taken out before it sees the rest.
    QStringList arguments = app.arguments();
    QString tlsCert;
    QString tlsKey;
    const int tls = arguments.indexOf(QStringLiteral("--tls"));
    if (tls > 0) {
        if (tls + 2 >= arguments.size())
            return fail(QStringLiteral("--tls needs a certificate file and a key file"));
        tlsCert = arguments.at(tls + 1);
        tlsKey = arguments.at(tls + 2);
        arguments.erase(arguments.begin() + tls, arguments.begin() + tls + 3);
    }
    parser.process(arguments);
    if (parser.isSet(QStringLiteral("tls")))
        return fail(QStringLiteral("--tls needs a certificate file and a key file"));

    ServiceEmulator::Options options;
    int port = 0;
    if (!readInt(parser, QStringLiteral("port"), 1, &port) || port > 65535)
        return fail(QStringLiteral("--port needs a number from 1 to 65535"));
    options.port = quint16(port);
    options.storageDir = parser.value(QStringLiteral("storage"));
    options.tlsCertFile = tlsCert;
    options.tlsKeyFile = tlsKey;
    options.acceptedUid = parser.value(QStringLiteral("uid"));
    options.acceptedToken = parser.value(QStringLiteral("token"));
    options.refusedFileName = parser.value(QStringLiteral("refuse-file"));
    options.stepMs = 2000;
    if (!readInt(parser, QStringLiteral("step-ms"), 0, &options.stepMs))
        return fail(QStringLiteral("--step-ms needs a number of milliseconds"));
    if (!readInt(parser, QStringLiteral("pages-per-student"), 1, &options.pagesPerStudent) ||
        !readInt(parser, QStringLiteral("fail-every"), 0, &options.failEvery) ||
        !readInt(parser, QStringLiteral("warn-every"), 0, &options.warnEvery) ||
        !readInt(parser, QStringLiteral("analyse-per-step"), 1, &options.analysePerStep) ||
        !readInt(parser, QStringLiteral("proofread-per-step"), 1, &options.proofreadPerStep))
        return fail(QStringLiteral("a simulation option is not a whole number in its range (see --help)"));

    QList<QPair<ServiceEmulator::Endpoint, ServiceEmulator::Fault>> faults;
    for (const QString& spec : parser.values(QStringLiteral("fault"))) {
        const int colon = spec.indexOf(QLatin1Char(':'));
        ServiceEmulator::Endpoint endpoint;
        ServiceEmulator::Fault fault;
        if (colon < 0 || !ServiceEmulator::endpointFromName(spec.left(colon), &endpoint) ||
            !ServiceEmulator::faultFromText(spec.mid(colon + 1), &fault))
            return fail(QStringLiteral("bad --fault \"%1\" (see --help)").arg(spec));
        faults.append({endpoint, fault});
    }

    ServiceEmulator emulator(options);
    if (!emulator.start())
        return fail(tlsCert.isEmpty()
                        ? QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port)
                        : QStringLiteral("cannot listen on 127.0.0.1:%1 with the certificate %2 and key %3")
                              .arg(port)
                              .arg(tlsCert, tlsKey));
    for (const auto& f : faults)
        emulator.addFault(f.first, f.second);
    if (parser.isSet(QStringLiteral("seed-demo"))) {
        const QString taskId = parser.value(QStringLiteral("task"));
        emulator.seedDemo(taskId, options.acceptedUid.isEmpty() ? QStringLiteral("teacher01") : options.acceptedUid);
        const ServiceEmulator::TaskCounts c = emulator.counts(taskId);
        print(QStringLiteral("seeded task %1: %2 images, %3 students analysed, %4 failed")
                  .arg(taskId)
                  .arg(c.uploaded)
                  .arg(c.analysedStudents)
                  .arg(c.failedStudents));
    }
    print(QStringLiteral("storage %1").arg(emulator.storageDir()));
    print(QStringLiteral("ambrel-service-emulator listening on %1").arg(emulator.baseUrl()));

    std::signal(SIGINT, requestQuit);
    std::signal(SIGTERM, requestQuit);
    const bool quiet = parser.isSet(QStringLiteral("quiet"));
    int printed = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (!quiet) {
            const QList<ServiceEmulator::RequestRecord> log = emulator.requestLog();
            for (; printed < log.size(); ++printed) {
                const ServiceEmulator::RequestRecord& r = log.at(printed);
                print(QStringLiteral("%1 %2 %3 -> %4")
                          .arg(r.method, r.path, ServiceEmulator::endpointName(r.endpoint))
                          .arg(r.status));
            }
        }
        if (g_quitRequested)
            app.quit();
    });
    poll.start(200);
    const int status = app.exec();
    emulator.stop();
    return status;
}

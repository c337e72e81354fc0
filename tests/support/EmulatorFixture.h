#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

#include "ServiceEmulator.h"

// Runs the service emulator in-process for one test (or one test case) on a free loopback port.
//
// The constructor starts the server, points AMBREL_API_HOST at baseUrl() and AMBREL_UPLOAD_HOST at uploadUrl(), and
// calls Settings::reload(); the destructor stops the server and restores both variables. Typical use:
//
//     EmulatorFixture emulator;                 // or EmulatorFixture emulator(options);
//     QVERIFY(emulator.isRunning());
//     emulator->addFault(ServiceEmulator::Endpoint::PaperStatus, {ServiceEmulator::Fault::PercentEncoded});
//     emulator->setCannedData(ServiceEmulator::Endpoint::PaperStatus,
//                             QJsonObject{{"uploadedImageCount", 5}, {"analyseFailImageCount", 2}});
//     ... call the client ...
//     QCOMPARE(emulator->requestCount(ServiceEmulator::Endpoint::PaperStatus), 1);
//     QCOMPARE(emulator->storedKeys().size(), 1);
//
// The analysis only moves when the test calls emulator->advance() or finishAnalysis(), unless options.stepMs > 0.
// Any non-empty service token is accepted unless setAcceptedToken() names one; the signature is always checked.
class EmulatorFixture
{
public:
    EmulatorFixture();
    explicit EmulatorFixture(const ServiceEmulator::Options& options);
    ~EmulatorFixture();
    EmulatorFixture(const EmulatorFixture&) = delete;
    EmulatorFixture& operator=(const EmulatorFixture&) = delete;

    bool isRunning() const;
    QString baseUrl() const;   // "http://127.0.0.1:PORT"
    QString uploadUrl() const; // baseUrl() + "/upload"
    QString domain() const;    // the uploadDomain the token endpoint hands out

    ServiceEmulator& server();
    ServiceEmulator* operator->();

private:
    void pointSettingsAtServer();

    std::unique_ptr<ServiceEmulator> m_server;
    QByteArray m_previousApiHost;
    QByteArray m_previousUploadHost;
    bool m_hadApiHost = false;
    bool m_hadUploadHost = false;
};

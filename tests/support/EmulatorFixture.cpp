#include "EmulatorFixture.h"

#include "core/Settings.h"

namespace {

void restore(const char* name, bool had, const QByteArray& value)
{
    if (had)
        qputenv(name, value);
    else
        qunsetenv(name);
}

} // namespace

EmulatorFixture::EmulatorFixture() : EmulatorFixture(ServiceEmulator::Options()) {}

EmulatorFixture::EmulatorFixture(const ServiceEmulator::Options& options)
    : m_server(std::make_unique<ServiceEmulator>(options))
{
    m_hadApiHost = qEnvironmentVariableIsSet("AMBREL_API_HOST");
    m_previousApiHost = qgetenv("AMBREL_API_HOST");
    m_hadUploadHost = qEnvironmentVariableIsSet("AMBREL_UPLOAD_HOST");
    m_previousUploadHost = qgetenv("AMBREL_UPLOAD_HOST");
    if (m_server->start())
        pointSettingsAtServer();
}

EmulatorFixture::~EmulatorFixture()
{
    m_server->stop();
    restore("AMBREL_API_HOST", m_hadApiHost, m_previousApiHost);
    restore("AMBREL_UPLOAD_HOST", m_hadUploadHost, m_previousUploadHost);
    Settings::reload();
}

void EmulatorFixture::pointSettingsAtServer()
{
    qputenv("AMBREL_API_HOST", m_server->baseUrl().toUtf8());
    qputenv("AMBREL_UPLOAD_HOST", m_server->uploadUrl().toUtf8());
    Settings::reload();
}

bool EmulatorFixture::isRunning() const
{
    return m_server->isRunning();
}

QString EmulatorFixture::baseUrl() const
{
    return m_server->baseUrl();
}

QString EmulatorFixture::uploadUrl() const
{
    return m_server->uploadUrl();
}

QString EmulatorFixture::domain() const
{
    return m_server->domain();
}

ServiceEmulator& EmulatorFixture::server()
{
    return *m_server;
}

ServiceEmulator* EmulatorFixture::operator->()
{
    return m_server.get();
}

#include "TestAuthority.h"

#include <QFile>
#include <QProcess>

TestAuthority::TestAuthority(const QString& name) : m_name(name)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    // Elliptic-curve keys: made at once, where RSA keys would take a noticeable part of a second each.
    m_valid = run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                   "-subj", "/CN=" + name, "-keyout", path(name + ".key"), "-out", path(name + ".pem"), "-addext",
                   "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
}

bool TestAuthority::isValid() const
{
    return m_valid;
}

QString TestAuthority::error() const
{
    return m_error;
}

QString TestAuthority::certificateFile() const
{
    return path(m_name + ".pem");
}

TestAuthority::Issued TestAuthority::issue(const QString& name, const QString& subjectAltName)
{
    if (!m_valid)
        return {};
    const QString extensions = path(name + ".ext");
    QFile ext(extensions);
    if (!ext.open(QIODevice::WriteOnly))
        return {};
    ext.write("subjectAltName=" + subjectAltName.toUtf8() +
              "\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n");
    ext.close();
    const Issued issued{path(name + ".pem"), path(name + ".key")};
    if (!run({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj",
              "/CN=" + name, "-keyout", issued.keyFile, "-out", path(name + ".csr")}) ||
        !run({"x509", "-req", "-in", path(name + ".csr"), "-CA", certificateFile(), "-CAkey", path(m_name + ".key"),
              "-CAcreateserial", "-days", "1", "-extfile", extensions, "-out", issued.certificateFile}))
        return {};
    return issued;
}

bool TestAuthority::run(const QStringList& arguments)
{
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1: %2").arg(arguments.value(0), QString::fromLocal8Bit(openssl.readAll()));
        if (openssl.error() == QProcess::FailedToStart)
            m_error = QStringLiteral("the openssl program was not found");
        return false;
    }
    return true;
}

QString TestAuthority::path(const QString& fileName) const
{
    return m_dir.filePath(fileName);
}

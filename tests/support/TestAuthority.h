#pragma once

#include <QString>
#include <QTemporaryDir>

// A throw-away certificate authority for tests over HTTPS, made with the openssl program in a temporary folder.
// Each authority signs server certificates for the names it is asked for.
class TestAuthority
{
public:
    struct Issued
    {
        QString certificateFile;
        QString keyFile;
    };

    // name: the authority's common name, also the stem of its files.
    explicit TestAuthority(const QString& name);

    // False when openssl was not found or failed; error() says why.
    bool isValid() const;
    QString error() const;

    // The authority's own certificate (PEM), as AMBREL_CA_FILE takes it.
    QString certificateFile() const;

    // A server certificate and its key, valid for one day, for subjectAltName (for instance "IP:127.0.0.1" or
    // "DNS:other.example"). Empty paths when it could not be made.
    Issued issue(const QString& name, const QString& subjectAltName);

private:
    bool run(const QStringList& arguments);
    QString path(const QString& fileName) const;

    QTemporaryDir m_dir;
    QString m_name;
    QString m_error;
    bool m_valid = false;
};

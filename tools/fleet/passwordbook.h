#pragma once

#include <QHash>
#include <QString>

// Which password each device gets. Never from the command line, where other
// users can read it: from a file of "ADDRESS PASSWORD" and "* PASSWORD"
// lines, else the environment variable ZUDIRUV_PASSWORD, else the devices'
// default password. Nothing here is ever printed.
class PasswordBook
{
public:
    enum class Source { Default, Given };

    static QString defaultPassword();

    // Reads the environment variable; call once before lookups.
    void takeEnvironment();
    // False, with error() naming the line (never its password), when the file
    // cannot be read or a line is not of the two forms.
    bool readFile(const QString &path);

    QString passwordFor(quint32 address) const;
    Source sourceFor(quint32 address) const;

    QString error() const { return m_error; }

private:
    QHash<quint32, QString> m_byAddress;
    QString m_forAll;
    bool m_hasForAll = false;
    QString m_error;
};

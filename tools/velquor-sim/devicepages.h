#pragma once

#include <QByteArray>
#include <QString>

// The pages of a Velquor device's web interface, written as the devices write
// them: ordinary HTML holding the texts by which the tool recognises the
// device's kind and generation.
class DevicePages
{
public:
    enum class Kind { Poe, Wifi, Vo1000 };
    enum class Generation { A, B };

    DevicePages(Kind kind, Generation generation, const QString &mac, const QString &timestamp);

    QByteArray index() const;
    QByteArray settings() const;
    QByteArray version() const;
    // The MAC page and the update page hold the bare text, nothing around it.
    QByteArray mac() const;
    QByteArray update() const;
    QByteArray unauthorized() const;
    QByteArray error(int status) const;

    static QByteArray reasonPhrase(int status);

private:
    Kind m_kind;
    Generation m_generation;
    QString m_mac;
    QString m_timestamp;
};

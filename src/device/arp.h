#pragma once

#include <QProcess>
#include <QString>

// Looks up the MAC address of an IP address by running the external ARP tool
// and reading its standard output line by line.
class Arp : public QProcess
{
    Q_OBJECT

public:
    Arp();
    ~Arp() override;

signals:
    void gettingMac();
    void noResponse();
    void received(QString mac);
    // Part of the scene-facing interface; nothing emits it.
    void done();

private slots:
    void readOutput();

public:
    Q_INVOKABLE void getMac(QString ip);

private:
    QString macText;
    bool answered = false;
};

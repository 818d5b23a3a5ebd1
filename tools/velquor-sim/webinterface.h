#pragma once

#include "devicepages.h"
#include "httprequest.h"
#include "httpresponse.h"
#include "pathbehaviours.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

class HttpConnection;
class RequestLog;

// The simulated device's web interface: the pages the tool probes, the
// password check of each device generation, the update-code upload, and
// the faults that a test asks for.
class WebInterface : public QObject
{
    Q_OBJECT

public:
    // Credential forms after "Basic " that the device accepts.
    enum Credential { PlainPassword = 0x1, PasswordDigest = 0x2 };

    struct Settings
    {
        DevicePages::Kind kind = DevicePages::Kind::Poe;
        DevicePages::Generation generation = DevicePages::Generation::B;
        QString password = QStringLiteral("plorvask");
        QString timestamp;   // empty: the current UTC time at each request
        QString mac;
        int acceptedCredentials = 0;   // 0: what the generation takes
        PathBehaviours behaviours;
        int idleTimeoutMs = 10000;     // between requests, then the connection closes
    };

    WebInterface(const Settings &settings, RequestLog *log, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const { return m_server.errorString(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }

    // Answers the held requests for `path`, or all of them for an empty path.
    void releaseHeld(const QString &path);

    // While the device runs its boot loader and reboots, its web server is
    // gone: connections are refused and open ones dropped. comeOnline()
    // listens again where listen() did.
    void goOffline();
    bool comeOnline();
    bool isOnline() const { return m_server.isListening(); }

private slots:
    void acceptConnections();
    void handleRequest(HttpConnection *connection, const HttpRequest &request);
    void logResponse(const HttpRequest &request, int status, qint64 bodyBytes);

private:
    struct HeldRequest
    {
        QPointer<HttpConnection> connection;
        HttpRequest request;
        PathBehaviour behaviour;
    };

    void deliver(const QPointer<HttpConnection> &connection, const HttpRequest &request,
                 const PathBehaviour &behaviour);
    HttpResponse answer(const HttpRequest &request, const PathBehaviour &behaviour) const;
    HttpResponse pageOrRefusal(const HttpRequest &request, const QByteArray &page,
                               const QByteArray &contentType = "text/html") const;
    bool credentialAccepted(const QByteArray &authorization) const;

    Settings m_settings;
    DevicePages m_pages;
    RequestLog *m_log;
    QTcpServer m_server;
    QList<HeldRequest> m_held;
    quint64 m_nextConnectionId = 1;
    QHostAddress m_listenAddress;
    quint16 m_listenPort = 0;
};

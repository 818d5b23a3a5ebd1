#include "webinterface.h"

#include "httpconnection.h"
#include "requestlog.h"

#include <QCryptographicHash>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

namespace {

const QString indexPath = QStringLiteral("/index.html");
const QString settingsPath = QStringLiteral("/var/www/settings.html");
const QString versionPath = QStringLiteral("/var/www/version.html");
const QString macPath = QStringLiteral("/var/www/mac.html");
const QString updatePath = QStringLiteral("/var/www/update.html");
const QString updateCodePath = QStringLiteral("/etc/update_code");

// Every byte value, several times over: not text in any encoding.
QByteArray binaryBytes()
{
    QByteArray bytes;
    for (int round = 0; round < 16; ++round)
        for (int value = 0; value < 256; ++value)
            bytes.append(char(value ^ (round * 37)));
    return bytes;
}

QString bodyText(const QByteArray &body)
{
    return QString::fromUtf8(body);
}

} // namespace

WebInterface::WebInterface(const Settings &settings, RequestLog *log, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_pages(settings.kind, settings.generation, settings.mac, settings.timestamp)
    , m_log(log)
{
    if (m_settings.acceptedCredentials == 0) {
        // The older line compares the password in plain, the current line its digest.
        m_settings.acceptedCredentials = settings.generation == DevicePages::Generation::A
            ? PlainPassword
            : PasswordDigest;
    }
    connect(&m_server, &QTcpServer::newConnection, this, &WebInterface::acceptConnections);
}

bool WebInterface::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server.listen(address, port))
        return false;
    m_listenAddress = m_server.serverAddress();
    m_listenPort = m_server.serverPort();
    return true;
}

void WebInterface::goOffline()
{
    m_server.close();
    m_held.clear();
    const QList<HttpConnection *> connections = findChildren<HttpConnection *>(QString(), Qt::FindDirectChildrenOnly);
    for (HttpConnection *connection : connections)
        connection->drop();
}

bool WebInterface::comeOnline()
{
    return m_server.isListening() || m_server.listen(m_listenAddress, m_listenPort);
}

void WebInterface::acceptConnections()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto *connection = new HttpConnection(socket, m_nextConnectionId++, m_settings.idleTimeoutMs, this);
        connect(connection, &HttpConnection::requestReceived, this, &WebInterface::handleRequest);
        connect(connection, &HttpConnection::responseSent, this, &WebInterface::logResponse);
    }
}

void WebInterface::handleRequest(HttpConnection *connection, const HttpRequest &request)
{
    m_log->write(QStringLiteral("request"),
                 {{QStringLiteral("method"), QString::fromLatin1(request.method)},
                  {QStringLiteral("path"), request.path},
                  {QStringLiteral("query"), request.query},
                  {QStringLiteral("authorization"), QString::fromUtf8(request.authorization)},
                  {QStringLiteral("body"), bodyText(request.body)},
                  {QStringLiteral("connection"), double(request.connectionId)}});

    if (request.method == "POST" && request.path == updateCodePath) {
        m_log->write(QStringLiteral("update_code"),
                     {{QStringLiteral("code"), bodyText(request.body)},
                      {QStringLiteral("authorization"), QString::fromUtf8(request.authorization)},
                      {QStringLiteral("accepted"), credentialAccepted(request.authorization)}});
    }

    const PathBehaviour behaviour = m_settings.behaviours.lookup(request.path);
    if (behaviour.reset) {
        m_log->write(QStringLiteral("reset"), {{QStringLiteral("path"), request.path},
                                               {QStringLiteral("connection"), double(request.connectionId)}});
        connection->resetConnection();
        return;
    }
    if (behaviour.hang)
        return;
    if (behaviour.hold) {
        m_held.append({connection, request, behaviour});
        return;
    }
    deliver(connection, request, behaviour);
}

void WebInterface::releaseHeld(const QString &path)
{
    QList<HeldRequest> stillHeld;
    QList<HeldRequest> released;
    for (const HeldRequest &held : qAsConst(m_held))
        (path.isEmpty() || held.request.path == path ? released : stillHeld).append(held);
    m_held = stillHeld;
    for (const HeldRequest &held : qAsConst(released))
        deliver(held.connection, held.request, held.behaviour);
}

void WebInterface::deliver(const QPointer<HttpConnection> &connection, const HttpRequest &request,
                           const PathBehaviour &behaviour)
{
    if (behaviour.delayMs > 0) {
        // A coarse timer may fire a little early; a late answer must really be late.
        QTimer::singleShot(behaviour.delayMs, Qt::PreciseTimer, this,
                           [this, connection, request, behaviour] {
                               if (connection)
                                   connection->respond(answer(request, behaviour));
                           });
        return;
    }
    if (connection)
        connection->respond(answer(request, behaviour));
}

HttpResponse WebInterface::answer(const HttpRequest &request, const PathBehaviour &behaviour) const
{
    HttpResponse response;
    if (behaviour.status) {
        response.status = behaviour.status;
        response.body = m_pages.error(behaviour.status);
    } else if (request.method != "GET" && request.method != "POST") {
        response.status = 405;
        response.body = m_pages.error(405);
    } else if (request.path == indexPath || request.path == QLatin1String("/")) {
        // The index page is open to everyone; it is how a browser finds the device.
        response.body = m_pages.index();
    } else if (request.path == settingsPath) {
        response = pageOrRefusal(request, m_pages.settings());
    } else if (request.path == versionPath) {
        response = pageOrRefusal(request, m_pages.version());
    } else if (request.path == macPath) {
        response = pageOrRefusal(request, m_pages.mac(), "text/plain");
    } else if (request.path == updatePath) {
        response = pageOrRefusal(request, m_pages.update(), "text/plain");
    } else if (request.path == updateCodePath && request.method == "POST") {
        response.contentType = "text/plain";
        if (credentialAccepted(request.authorization)) {
            response.body = "OK\n";
        } else {
            response.status = 401;
            response.body = m_pages.unauthorized();
        }
    } else {
        response.status = 404;
        response.body = m_pages.error(404);
    }

    if (behaviour.hasBody)
        response.body = behaviour.body;
    response.fillerBytes = behaviour.fillerBytes;
    if (behaviour.binary) {
        response.prefix = binaryBytes();
        response.contentType = "application/octet-stream";
    }
    return response;
}

HttpResponse WebInterface::pageOrRefusal(const HttpRequest &request, const QByteArray &page,
                                         const QByteArray &contentType) const
{
    HttpResponse response;
    if (request.method != "GET") {
        response.status = 405;
        response.body = m_pages.error(405);
    } else if (!credentialAccepted(request.authorization)) {
        response.status = 401;
        response.extraHeaders.append(qMakePair(QByteArray("WWW-Authenticate"),
                                               QByteArray("Basic realm=\"Velquor\"")));
        response.body = m_pages.unauthorized();
    } else {
        response.body = page;
        response.contentType = contentType;
    }
    return response;
}

bool WebInterface::credentialAccepted(const QByteArray &authorization) const
{
    // "Basic " with an empty password may arrive without its trailing blank.
    static const QByteArray scheme = "Basic";
    if (!authorization.startsWith(scheme)
        || (authorization.size() > scheme.size() && authorization.at(scheme.size()) != ' '))
        return false;
    const QByteArray credential = authorization.mid(scheme.size() + 1);
    const QByteArray password = m_settings.password.toUtf8();
    if ((m_settings.acceptedCredentials & PlainPassword) && credential == password)
        return true;
    // Lower-case digits only, as the tool writes them.
    return (m_settings.acceptedCredentials & PasswordDigest)
        && credential == QCryptographicHash::hash(password, QCryptographicHash::Md5).toHex();
}

void WebInterface::logResponse(const HttpRequest &request, int status, qint64 bodyBytes)
{
    m_log->write(QStringLiteral("response"),
                 {{QStringLiteral("method"), QString::fromLatin1(request.method)},
                  {QStringLiteral("path"), request.path},
                  {QStringLiteral("status"), status},
                  {QStringLiteral("bytes"), double(bodyBytes)},
                  {QStringLiteral("connection"), double(request.connectionId)}});
}

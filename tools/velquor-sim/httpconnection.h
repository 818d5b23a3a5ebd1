#pragma once

#include "httprequest.h"
#include "httpresponse.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// One client connection of the simulated web server. Parses HTTP/1.1
// requests one at a time: the next request on a kept-alive connection is
// looked at only after the current one has been answered, which is what a
// small device's server does too. Between requests, a connection on which
// nothing arrives for `idleTimeoutMs` is closed.
class HttpConnection : public QObject
{
    Q_OBJECT

public:
    HttpConnection(QTcpSocket *socket, quint64 id, int idleTimeoutMs, QObject *parent = nullptr);

    quint64 id() const { return m_id; }

    // Answers the request last reported by requestReceived.
    void respond(const HttpResponse &response);
    // Drops the connection with a TCP reset, as a crashing device would.
    void resetConnection();
    // Drops the connection at once, whatever it was doing.
    void drop();

signals:
    void requestReceived(HttpConnection *connection, const HttpRequest &request);
    void responseSent(const HttpRequest &request, int status, qint64 bodyBytes);

private slots:
    void readIncoming();
    void writeMore();

private:
    enum class Parse { NeedMore, Complete, Malformed, TooLarge };

    Parse parseRequest(HttpRequest &request);
    void refuse(int status);

    QTcpSocket *m_socket;
    quint64 m_id;
    QByteArray m_incoming;
    bool m_busy = false;
    HttpRequest m_current;
    int m_currentStatus = 0;
    qint64 m_bodyBytes = 0;
    qint64 m_fillerLeft = 0;
    QByteArray m_pending;
    bool m_closeAfterwards = false;
    QTimer m_idleTimer;
};

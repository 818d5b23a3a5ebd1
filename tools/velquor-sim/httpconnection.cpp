#include "httpconnection.h"

#include "boundednumber.h"
#include "devicepages.h"

#include <QTcpSocket>

#include <sys/socket.h>

#include <limits>

namespace {

constexpr int maxHeaderBytes = 64 * 1024;
constexpr int maxBodyBytes = 1024 * 1024;
constexpr qint64 chunkBytes = 64 * 1024;
// Keep the socket's own buffer small while streaming a huge answer.
constexpr qint64 writeAheadBytes = 1024 * 1024;

const QByteArray &fillerChunk()
{
    static const QByteArray chunk = [] {
        QByteArray line("<!-- filler -->\n");
        QByteArray bytes;
        while (bytes.size() < chunkBytes)
            bytes += line;
        bytes.truncate(int(chunkBytes));
        return bytes;
    }();
    return chunk;
}

// Where the head ends: the first empty line, its line end CRLF or a bare LF
// as some clients send. -1 while it has not arrived.
int headLength(const QByteArray &bytes, int *bodyStart)
{
    for (int lineStart = 0;;) {
        const int newline = bytes.indexOf('\n', lineStart);
        if (newline < 0)
            return -1;
        if (newline == lineStart || (newline == lineStart + 1 && bytes.at(lineStart) == '\r')) {
            *bodyStart = newline + 1;
            return lineStart;
        }
        lineStart = newline + 1;
    }
}

} // namespace

HttpConnection::HttpConnection(QTcpSocket *socket, quint64 id, int idleTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_id(id)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::readIncoming);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &HttpConnection::writeMore);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    // A client that opens a connection and then sends nothing, or half a
    // request, must not hold one of the device's few connections forever.
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleTimeoutMs);
    connect(&m_idleTimer, &QTimer::timeout, m_socket, &QTcpSocket::disconnectFromHost);
    m_idleTimer.start();
}

void HttpConnection::readIncoming()
{
    m_incoming += m_socket->readAll();
    if (!m_busy)
        m_idleTimer.start();
    if (m_busy) {
        // A client that keeps sending while it waits gets no unbounded buffer.
        if (m_incoming.size() > maxHeaderBytes + maxBodyBytes)
            m_socket->abort();
        return;
    }

    HttpRequest request;
    switch (parseRequest(request)) {
    case Parse::NeedMore:
        return;
    case Parse::Malformed:
        refuse(400);
        return;
    case Parse::TooLarge:
        refuse(413);
        return;
    case Parse::Complete:
        m_busy = true;
        m_idleTimer.stop();
        m_current = request;
        emit requestReceived(this, request);
        return;
    }
}

HttpConnection::Parse HttpConnection::parseRequest(HttpRequest &request)
{
    int bodyStart = 0;
    const int headEnd = headLength(m_incoming, &bodyStart);
    if (headEnd < 0)
        return m_incoming.size() > maxHeaderBytes ? Parse::TooLarge : Parse::NeedMore;

    QList<QByteArray> lines = m_incoming.left(headEnd).split('\n');
    lines.removeLast(); // what follows the last line end
    if (lines.isEmpty())
        return Parse::Malformed;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return Parse::Malformed;
    // No device path holds a NUL; C code behind it would read a shorter path.
    if (requestLine.at(1).contains('\0'))
        return Parse::Malformed;

    qint64 contentLength = 0;
    bool closeRequested = requestLine.at(2) == "HTTP/1.0";
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon <= 0)
            return Parse::Malformed;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            // Digits only: "+5", "0x5" or "5 5" would let two readers see two lengths.
            const auto length = parseBoundedNumber(value.toStdString(), 0, std::numeric_limits<qint64>::max());
            if (!length)
                return Parse::Malformed;
            contentLength = *length;
        } else if (name == "transfer-encoding") {
            // Devices do not take chunked uploads; nothing the tool sends uses them.
            return Parse::Malformed;
        } else if (name == "authorization") {
            // Kept as sent, apart from the line end: a plain password may end in blanks.
            QByteArray raw = line.mid(colon + 1);
            if (raw.endsWith('\r'))
                raw.chop(1);
            while (raw.startsWith(' ') || raw.startsWith('\t'))
                raw.remove(0, 1);
            request.authorization = raw;
        } else if (name == "connection") {
            const QByteArray option = value.toLower();
            if (option == "close")
                closeRequested = true;
            else if (option == "keep-alive")
                closeRequested = false;
        }
    }
    if (contentLength > maxBodyBytes)
        return Parse::TooLarge;
    if (m_incoming.size() - bodyStart < contentLength)
        return Parse::NeedMore;

    const QByteArray target = requestLine.at(1);
    const int question = target.indexOf('?');
    request.method = requestLine.at(0);
    request.path = QString::fromUtf8(question < 0 ? target : target.left(question));
    request.query = question < 0 ? QString() : QString::fromUtf8(target.mid(question + 1));
    request.body = m_incoming.mid(bodyStart, int(contentLength));
    request.keepAlive = !closeRequested;
    request.connectionId = m_id;
    m_incoming.remove(0, bodyStart + int(contentLength));
    return Parse::Complete;
}

void HttpConnection::refuse(int status)
{
    m_busy = true;
    m_idleTimer.stop();
    m_incoming.clear();
    m_current = HttpRequest();
    m_current.keepAlive = false;
    m_current.connectionId = m_id;
    HttpResponse response;
    response.status = status;
    response.body = DevicePages::reasonPhrase(status) + '\n';
    response.contentType = "text/plain";
    respond(response);
}

void HttpConnection::respond(const HttpResponse &response)
{
    m_currentStatus = response.status;
    m_bodyBytes = response.contentLength();
    m_fillerLeft = response.fillerBytes;
    m_closeAfterwards = !m_current.keepAlive;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
        + DevicePages::reasonPhrase(response.status) + "\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(m_bodyBytes) + "\r\n";
    head += "Cache-Control: no-cache\r\n";
    for (const auto &header : response.extraHeaders)
        head += header.first + ": " + header.second + "\r\n";
    head += m_closeAfterwards ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    head += "\r\n";

    m_socket->write(head);
    m_pending = response.prefix + response.body;
    writeMore();
}

void HttpConnection::writeMore()
{
    if (!m_busy || m_currentStatus == 0)
        return;
    while (m_socket->bytesToWrite() < writeAheadBytes) {
        if (m_fillerLeft > 0) {
            const qint64 size = qMin(m_fillerLeft, chunkBytes);
            m_socket->write(fillerChunk().constData(), size);
            m_fillerLeft -= size;
        } else if (!m_pending.isEmpty()) {
            m_socket->write(m_pending);
            m_pending.clear();
        } else {
            break;
        }
    }
    if (m_fillerLeft > 0 || !m_pending.isEmpty() || m_socket->bytesToWrite() > 0)
        return;

    // Everything has reached the kernel: the answer is out.
    const HttpRequest answered = m_current;
    const int status = m_currentStatus;
    m_currentStatus = 0;
    m_busy = false;
    emit responseSent(answered, status, m_bodyBytes);

    if (m_closeAfterwards) {
        m_socket->disconnectFromHost();
        return;
    }
    m_idleTimer.start();
    if (!m_incoming.isEmpty())
        readIncoming();
}

void HttpConnection::resetConnection()
{
    // A zero linger time makes close() send RST instead of FIN.
    const struct linger immediately = {1, 0};
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor >= 0)
        ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &immediately, sizeof immediately);
    m_busy = true;
    m_socket->abort();
    deleteLater();
}

void HttpConnection::drop()
{
    m_busy = true;
    m_idleTimer.stop();
    m_socket->abort();
    deleteLater();
}

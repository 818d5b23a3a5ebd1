// The simulated device's HTTP server reading a client's bytes, arriving in
// any pieces. Every request it takes is answered at once, so pipelined
// requests are read in turn. The same bytes are also read once with bare LF
// line ends and once with CRLF, which must come out alike.
// Input: piece size - 1, then the bytes.
#include "fuzzcheck.h"
#include "httpconnection.h"
#include "qtfuzzapp.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

// A connected client as HttpConnection sees it: what it reads comes from the
// input, what it writes is kept.
class FedSocket : public QTcpSocket
{
public:
    FedSocket() { setOpenMode(QIODevice::ReadWrite); }

    void deliver(const QByteArray &bytes)
    {
        m_incoming += bytes;
        emit readyRead();
    }

    qint64 bytesAvailable() const override { return m_incoming.size() + QIODevice::bytesAvailable(); }
    qint64 bytesToWrite() const override { return 0; }
    void disconnectFromHost() override { m_closed = true; }
    bool isClosed() const { return m_closed; }
    const QByteArray &written() const { return m_written; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const int size = int(std::min<qint64>(maxSize, m_incoming.size()));
        std::copy(m_incoming.constData(), m_incoming.constData() + size, data);
        m_incoming.remove(0, size);
        return size;
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        m_written.append(data, int(size));
        return size;
    }

private:
    QByteArray m_incoming;
    QByteArray m_written;
    bool m_closed = false;
};

// What the server made of one request: the answer's status and the request
// it answered (a blank one for a refusal).
struct Answer
{
    int status = 0;
    HttpRequest request;

    bool sameHeadAs(const Answer &other) const
    {
        return status == other.status && request.method == other.request.method
            && request.path == other.request.path && request.query == other.request.query
            && request.authorization == other.request.authorization
            && request.keepAlive == other.request.keepAlive;
    }
};

struct Exchange
{
    int requests = 0;
    QList<Answer> answers;
    QByteArray written;
};

// Feeds `bytes` to a fresh connection in pieces of `piece` bytes, answering
// each request it takes at once.
Exchange exchange(const QByteArray &bytes, int piece)
{
    auto *socket = new FedSocket;
    // Long enough never to strike: no event loop runs here anyway.
    HttpConnection connection(socket, 1, 60 * 60 * 1000);
    Exchange result;
    QObject::connect(&connection, &HttpConnection::requestReceived,
                     [&](HttpConnection *from, const HttpRequest &request) {
                         ++result.requests;
                         FUZZ_CHECK(from == &connection);
                         FUZZ_CHECK(!request.method.isEmpty());
                         FUZZ_CHECK(request.body.size() <= 1024 * 1024);
                         HttpResponse response;
                         response.status = 200;
                         response.body = "ok\n";
                         response.contentType = "text/plain";
                         from->respond(response);
                     });
    QObject::connect(&connection, &HttpConnection::responseSent,
                     [&](const HttpRequest &request, int status, qint64) {
                         result.answers.append({status, request});
                     });

    for (int at = 0; at < bytes.size() && !socket->isClosed(); at += piece)
        socket->deliver(bytes.mid(at, piece));
    result.written = socket->written();
    return result;
}

int statusOfFirstAnswer(const QByteArray &written)
{
    return written.mid(int(qstrlen("HTTP/1.1 ")), 3).toInt();
}

}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int piece = int(data[0]) + 1;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const Exchange plain = exchange(bytes, piece);

    // Every request taken, and every refusal, is answered once, in order.
    FUZZ_CHECK(plain.answers.size() >= plain.requests && plain.answers.size() <= plain.requests + 1);
    FUZZ_CHECK(plain.written.count("HTTP/1.1 ") >= plain.answers.size());
    FUZZ_CHECK(plain.written.isEmpty() || plain.written.startsWith("HTTP/1.1 "));

    // A NUL in the first request's target gets it refused with 400 (or 413
    // when its head is too large to read at all).
    const QList<QByteArray> firstLine = bytes.left(bytes.indexOf('\n')).trimmed().split(' ');
    if (firstLine.size() >= 2 && firstLine.at(1).contains('\0') && !plain.written.isEmpty()) {
        FUZZ_CHECK(plain.requests == 0);
        const int status = statusOfFirstAnswer(plain.written);
        FUZZ_CHECK(status == 400 || status == 413);
    }

    // Bare LF line ends read as CRLF ones do. Bodies are counted in bytes,
    // so the two readings are compared only up to the first one.
    QByteArray bareLf = bytes;
    bareLf.replace('\r', QByteArray());
    QByteArray crLf = bareLf;
    crLf.replace("\n", "\r\n");
    const Exchange lf = exchange(bareLf, piece);
    const Exchange crlf = exchange(crLf, piece);
    bool bodySeen = false;
    for (int i = 0; i < std::min(lf.answers.size(), crlf.answers.size()) && !bodySeen; ++i) {
        bodySeen = !lf.answers.at(i).request.body.isEmpty() || !crlf.answers.at(i).request.body.isEmpty();
        if (!bodySeen)
            FUZZ_CHECK(lf.answers.at(i).sameHeadAs(crlf.answers.at(i)));
    }
    if (!bodySeen) {
        // The longer reading may only have gone on into a request with a body.
        const Exchange &longer = lf.answers.size() > crlf.answers.size() ? lf : crlf;
        const int shorter = std::min(lf.answers.size(), crlf.answers.size());
        FUZZ_CHECK(longer.answers.size() == shorter || !longer.answers.at(shorter).request.body.isEmpty());
    }
    return 0;
}

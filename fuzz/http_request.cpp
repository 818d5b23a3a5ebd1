// The simulated device's HTTP server reading a client's bytes, arriving in
// any pieces. Every request it takes is answered at once, so pipelined
// requests are read in turn. Input: piece size - 1, then the bytes.
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
    auto *socket = new FedSocket;
    HttpConnection connection(socket, 1);
    int requests = 0, answers = 0;
    QObject::connect(&connection, &HttpConnection::requestReceived,
                     [&](HttpConnection *from, const HttpRequest &request) {
                         ++requests;
                         FUZZ_CHECK(from == &connection);
                         FUZZ_CHECK(!request.method.isEmpty());
                         FUZZ_CHECK(request.body.size() <= 1024 * 1024);
                         HttpResponse response;
                         response.status = 200;
                         response.body = "ok\n";
                         response.contentType = "text/plain";
                         from->respond(response);
                     });
    QObject::connect(&connection, &HttpConnection::responseSent, [&] { ++answers; });

    const std::size_t piece = std::size_t(data[0]) + 1;
    for (std::size_t at = 1; at < size && !socket->isClosed(); at += piece) {
        const std::size_t length = std::min(piece, size - at);
        socket->deliver(QByteArray(reinterpret_cast<const char *>(data + at), int(length)));
    }

    // Every request taken, and every refusal, is answered once, in order.
    FUZZ_CHECK(answers >= requests && answers <= requests + 1);
    FUZZ_CHECK(socket->written().count("HTTP/1.1 ") >= answers);
    FUZZ_CHECK(socket->written().isEmpty() || socket->written().startsWith("HTTP/1.1 "));
    return 0;
}

#pragma once

#include <QQmlNetworkAccessManagerFactory>

// The probe cuts off any answer beyond 64 KiB, but it can only look at an
// answer when its worker gets to run: without a bound the network side reads
// on meanwhile, and a host that sends an endless page fills memory and starves
// the other probes' windows on a busy machine. Every reply made through this
// factory holds at most this much unread, so reading waits for the probe.
class BoundedAnswersFactory : public QQmlNetworkAccessManagerFactory
{
public:
    static constexpr qint64 unreadLimit = 64 * 1024;

    QNetworkAccessManager *create(QObject *parent) override;
};

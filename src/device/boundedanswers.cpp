#include "device/boundedanswers.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace {

class BoundedAnswers : public QNetworkAccessManager
{
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override
    {
        QNetworkReply *reply = QNetworkAccessManager::createRequest(operation, request, outgoingData);
        reply->setReadBufferSize(BoundedAnswersFactory::unreadLimit);
        return reply;
    }
};

} // namespace

// Called on every thread whose engine makes requests (the worker scripts').
QNetworkAccessManager *BoundedAnswersFactory::create(QObject *parent)
{
    return new BoundedAnswers(parent);
}

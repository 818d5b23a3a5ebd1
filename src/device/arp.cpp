#include "device/arp.h"

#include "platform/toolpath.h"
#include "platform/toolline.h"

#include <QStringList>

Arp::Arp()
{
    setProgram(toolProgram(QStringLiteral("arpping.exe")));
    connect(this, &QProcess::readyReadStandardOutput, this, &Arp::readOutput);
}

Arp::~Arp() = default;

void Arp::getMac(QString ip)
{
    emit gettingMac();
    kill();
    answered = false;
    setArguments({QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("-w"),
                  QStringLiteral("3000"), ip});
    start(QIODevice::ReadWrite);
}

void Arp::readOutput()
{
    while (canReadLine()) {
        const QString text = decodeToolLine(readLine());

        // A "No response" line never counts as the answer, even after one.
        if (text.contains(QLatin1String("No response"))) {
            emit noResponse();
            continue;
        }
        if (answered || text.isEmpty())
            continue;

        // Single spaces only: a doubled space leaves an empty field, and the
        // third field keeps whatever it holds, line end included.
        const QStringList fields = text.split(QLatin1Char(' '), Qt::KeepEmptyParts);
        macText = fields.size() < 3 ? QString() : fields.at(2);
        emit received(macText);
        answered = true;
    }
}

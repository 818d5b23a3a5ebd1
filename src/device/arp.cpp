#include "device/arp.h"

#include "platform/toolpath.h"
#include "platform/toolline.h"
#include "platform/toolrun.h"

#include <QStringList>

Arp::Arp()
{
    setProgram(toolProgram(QStringLiteral("arpping.exe")));
    connect(this, &QProcess::readyReadStandardOutput, this, &Arp::readOutput);
}

Arp::~Arp()
{
    // The base's destructor ends a run still going, when this part is gone
    // already: none of its handlers may answer that end.
    disconnect(this, nullptr, this, nullptr);
}

void Arp::getMac(QString ip)
{
    // The earlier run ends first, so that its end cannot be taken for the end
    // of this lookup.
    endRunningTool(*this, &Arp::readOutput);
    emit gettingMac();
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

#include "flash/flasheroutputline.h"

#include "platform/toolline.h"

#include <QRegularExpression>

namespace {

FlasherOutputLine readText(const QString &text)
{
    FlasherOutputLine line;
    line.text = text.trimmed();
    // What the error test looks at: for a progress line only its percentage
    // field, so an "ERROR" elsewhere on a progress line does not count.
    QString examined = text;
    if (text.contains(QLatin1String("Complete:"))) {
        line.hasProgress = true;
        // The percentage stands between the line's last space and the first
        // percent sign after it.
        examined = text.mid(text.lastIndexOf(QLatin1Char(' ')) + 1);
        const int percentSign = examined.indexOf(QLatin1Char('%'));
        if (percentSign >= 0)
            examined.truncate(percentSign);
        bool ok = false;
        const int value = examined.trimmed().toInt(&ok);
        line.percent = ok ? value : 0;
    }
    line.isError = examined.contains(QLatin1String("ERROR"));
    line.isUnconfirmed = line.isError && line.text.startsWith(QLatin1String("ERROR: unconfirmed:"));
    return line;
}

} // namespace

FlasherOutputLine FlasherOutputLine::read(const QByteArray &rawLine)
{
    return readText(decodeToolLine(rawLine));
}

FlasherOutputLine FlasherOutputLine::readForDevice(const QByteArray &rawLine)
{
    static const QRegularExpression prefix(QStringLiteral("^([0-9]{1,3}(?:\\.[0-9]{1,3}){3}):? "));
    const QString text = decodeToolLine(rawLine);
    const QRegularExpressionMatch match = prefix.match(text);
    if (!match.hasMatch())
        return FlasherOutputLine();
    FlasherOutputLine line = readText(text.mid(match.capturedLength()));
    line.address = match.captured(1);
    return line;
}

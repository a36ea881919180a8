#include "trackerframe.h"

QString TrackerFrame::summary() const
{
    QString text = protocolName(protocol) + QLatin1Char(' ') + kind;
    if (kind == QLatin1StringView("AVL"))
        text += records == 1 ? QStringLiteral(" 1 record") : QStringLiteral(" %1 records").arg(records);
    if (!message.isEmpty())
        text += QStringLiteral(" (") + message + QLatin1Char(')');
    return text;
}

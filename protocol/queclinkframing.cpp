// Queclink trackers (Queclink "@Track Air Interface Protocol", GL200/GL300/GV300 families):
// ASCII reports "+RESP:GTxxx,...$" and "+BUFF:GTxxx,...$" (buffered), and "+ACK:GTxxx,...$",
// the device's acknowledgements and its heartbeat "+ACK:GTHBD". The fields after the message
// name are the protocol version and the IMEI; the last field before '$' is the count number,
// four hexadecimal digits.
//
// The server answers the heartbeat with "+SACK:GTHBD,<protocol version>,<count number>$" and,
// where the device asks for it (AT+GTSRI), a report with "+SACK:<count number>$".

#include "framing.h"

#include <algorithm>

namespace Framing {

namespace {

constexpr qsizetype MaximumText = 4096;
constexpr std::string_view Starts[] = {"+RESP:", "+BUFF:", "+ACK:"};

FrameFit fitQueclink(QByteArrayView data, const FramingContext &)
{
    bool beginning = false;
    for (const std::string_view start : Starts) {
        const int comparison = compareStart(data, start);
        if (comparison > 0)
            return textUpTo(data, qsizetype(start.size()), '$', MaximumText, Starts);
        beginning = beginning || comparison == 0;
    }
    return beginning ? partial() : none();
}

QString kindOf(QByteArrayView head, QByteArrayView name)
{
    static const QList<QByteArrayView> alarms{"GTSOS", "GTSPD", "GTGEO", "GTTOW", "GTHBM", "GTCRA"};
    static const QList<QByteArrayView> locations{"GTFRI", "GTRTL", "GTERI", "GTIGL", "GTDOG",
                                                 "GTLBC", "GTNMR", "GTDIS", "GTPNL"};
    if (name == "GTHBD")
        return QStringLiteral("heartbeat");
    if (head.startsWith("+ACK:"))
        return QStringLiteral("response");
    if (alarms.contains(name))
        return QStringLiteral("alarm");
    if (locations.contains(name))
        return QStringLiteral("location");
    return QStringLiteral("status");
}

// The count number: the last field, four hexadecimal digits; empty when it is not.
QByteArrayView countNumber(QByteArrayView body)
{
    const QByteArrayView count = body.sliced(body.lastIndexOf(',') + 1);
    return count.size() == 4 && hexByteAt(count, 0) >= 0 && hexByteAt(count, 2) >= 0 ? count
                                                                                     : QByteArrayView();
}

void describeQueclink(QByteArrayView frame, TrackerFrame &out)
{
    const QByteArrayView body = textBody(frame);
    const QByteArrayView head = field(body, 0);
    const QByteArrayView name = head.sliced(head.indexOf(':') + 1);
    out.kind = kindOf(head, name);
    out.message = printableText(name);
    out.deviceId = printableText(field(body, 2));
}

QByteArray acknowledgeQueclink(const TrackerFrame &frame)
{
    const QByteArrayView body = textBody(frame.bytes);
    const QByteArrayView count = countNumber(body);
    if (count.isEmpty() || !body.contains(','))
        return {};
    if (body.startsWith("+ACK:GTHBD,"))
        return "+SACK:GTHBD," + field(body, 1).toByteArray() + ',' + count.toByteArray() + '$';
    if (body.startsWith("+RESP:") || body.startsWith("+BUFF:"))
        return "+SACK:" + count.toByteArray() + '$';
    return {};
}

} // namespace

const ProtocolFraming QueclinkFraming{fitQueclink, describeQueclink, acknowledgeQueclink, "+"};

} // namespace Framing

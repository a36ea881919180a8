// TK103 and Coban trackers (Coban "GPRS protocol" of the TK102/TK103/GPS103 family): the
// login "##,imei:<imei>,A;", reports "imei:<imei>,<keyword>,...;" and the heartbeat, the
// bare IMEI "<imei>;". The server answers the login with LOAD, the heartbeat with ON, and
// stops the "help me" alarm with "**,imei:<imei>,E;".

#include "framing.h"

#include <algorithm>

namespace Framing {

namespace {

constexpr qsizetype MaximumText = 2048;
constexpr std::string_view LoginStart = "##,imei:";
constexpr std::string_view ReportStart = "imei:";
// A report holds "imei:" at its start only, the login after its first three characters.
constexpr std::string_view Restarts[] = {ReportStart};
// The digits of a heartbeat: an IMEI has 15; allow for shorter and longer serial numbers.
constexpr qsizetype FewestDigits = 8;
constexpr qsizetype MostDigits = 20;

FrameFit fitTk103(QByteArrayView data, const FramingContext &)
{
    for (const std::string_view start : {LoginStart, ReportStart}) {
        const int comparison = compareStart(data, start);
        if (comparison == 0)
            return partial();
        if (comparison > 0)
            return textUpTo(data, qsizetype(start.size()), ';', MaximumText, Restarts);
    }
    qsizetype digits = 0;
    while (digits < data.size() && digits <= MostDigits && isDigit(data[digits]))
        ++digits;
    if (digits == 0 || digits > MostDigits)
        return none();
    if (digits == data.size())
        return partial();
    if (data[digits] != ';' || digits < FewestDigits)
        return none();
    return textUpTo(data, digits, ';', MaximumText);
}

QString kindOf(QByteArrayView keyword)
{
    static const QList<QByteArrayView> alarms{"help me", "low battery", "move", "speed", "stockade"};
    if (keyword == "tracker")
        return QStringLiteral("location");
    if (alarms.contains(keyword) || keyword.endsWith(" alarm"))
        return QStringLiteral("alarm");
    if (keyword == "acc on" || keyword == "acc off" || keyword == "OBD")
        return QStringLiteral("status");
    return QStringLiteral("message");
}

// The IMEI after "imei:" up to the comma.
QByteArrayView imeiOf(QByteArrayView body)
{
    const qsizetype start = body.indexOf("imei:");
    if (start < 0)
        return {};
    return field(body.sliced(start + 5), 0);
}

void describeTk103(QByteArrayView frame, TrackerFrame &out)
{
    const QByteArrayView body = textBody(frame);
    if (isDigit(body[0])) {
        out.kind = QStringLiteral("heartbeat");
        out.deviceId = QString::fromLatin1(body);
        return;
    }
    out.deviceId = printableText(imeiOf(body));
    if (body.startsWith("##")) {
        out.kind = QStringLiteral("login");
        return;
    }
    const QByteArrayView keyword = field(body, 1);
    out.kind = kindOf(keyword);
    out.message = printableText(keyword);
}

QByteArray acknowledgeTk103(const TrackerFrame &frame)
{
    if (frame.kind == QLatin1StringView("login"))
        return QByteArrayLiteral("LOAD");
    if (frame.kind == QLatin1StringView("heartbeat"))
        return QByteArrayLiteral("ON");
    if (frame.message == QLatin1StringView("help me"))
        return "**,imei:" + imeiOf(textBody(frame.bytes)).toByteArray() + ",E;";
    return {};
}

} // namespace

const ProtocolFraming Tk103Framing{fitTk103, describeTk103, acknowledgeTk103, "#i0123456789"};

} // namespace Framing

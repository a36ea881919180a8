#include "trackerprotocol.h"

QString protocolName(TrackerProtocol protocol)
{
    switch (protocol) {
    case TrackerProtocol::Teltonika:
        return QStringLiteral("Teltonika");
    case TrackerProtocol::GT06:
        return QStringLiteral("GT06");
    case TrackerProtocol::H02:
        return QStringLiteral("H02");
    case TrackerProtocol::Meitrack:
        return QStringLiteral("Meitrack");
    case TrackerProtocol::TK103:
        return QStringLiteral("TK103");
    case TrackerProtocol::Queclink:
        return QStringLiteral("Queclink");
    case TrackerProtocol::NMEA:
        break;
    }
    return QStringLiteral("NMEA");
}

std::optional<ProtocolChoice> protocolChoiceFromName(QStringView name)
{
    if (name.compare(QLatin1StringView("auto"), Qt::CaseInsensitive) == 0)
        return ProtocolChoice::detect();
    for (const TrackerProtocol protocol : AllTrackerProtocols) {
        if (name.compare(protocolName(protocol), Qt::CaseInsensitive) == 0)
            return ProtocolChoice::only(protocol);
    }
    return std::nullopt;
}

QStringList protocolOptionNames()
{
    QStringList names{QStringLiteral("auto")};
    for (const TrackerProtocol protocol : AllTrackerProtocols)
        names.append(protocolName(protocol).toLower());
    return names;
}

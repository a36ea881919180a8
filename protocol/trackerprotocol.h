#ifndef GPSA_TRACKERPROTOCOL_H
#define GPSA_TRACKERPROTOCOL_H

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The device protocols whose frames the analyzer knows.
enum class TrackerProtocol { Teltonika, GT06, H02, Meitrack, TK103, Queclink, NMEA };

inline constexpr TrackerProtocol AllTrackerProtocols[] = {
    TrackerProtocol::Teltonika, TrackerProtocol::GT06,     TrackerProtocol::H02,  TrackerProtocol::Meitrack,
    TrackerProtocol::TK103,     TrackerProtocol::Queclink, TrackerProtocol::NMEA,
};

// The name shown to the operator: "Teltonika", "GT06", "H02", "Meitrack", "TK103", "Queclink", "NMEA".
[[nodiscard]] QString protocolName(TrackerProtocol protocol);

// What the operator chose for a connection: detection, or one protocol that alone is tried.
struct ProtocolChoice
{
    bool autoDetect = false;
    std::optional<TrackerProtocol> protocol;

    [[nodiscard]] static ProtocolChoice detect() { return {true, std::nullopt}; }
    [[nodiscard]] static ProtocolChoice only(TrackerProtocol protocol) { return {false, protocol}; }
    friend bool operator==(const ProtocolChoice &, const ProtocolChoice &) = default;
};

// "auto" or a protocol's option name, in any case; nothing for any other text.
[[nodiscard]] std::optional<ProtocolChoice> protocolChoiceFromName(QStringView name);

// The option names in lower case, "auto" first, for a usage message.
[[nodiscard]] QStringList protocolOptionNames();

#endif

#ifndef GPSA_CAPTUREFEATURES_H
#define GPSA_CAPTUREFEATURES_H

#include "trackerprotocol.h"

#include <QString>
#include <QStringList>

#include <optional>

// The switches beyond the window's controls, all off by default: with none of them on, the
// engine writes, numbers and sends exactly what it does without them. They are read when
// capturing starts and hold until the program ends, like the other settings.
struct CaptureFeatures
{
    // Every chunk the OUT server sends is captured, then sent on to the tracker.
    bool passAnswers = false;
    // The tracker's bytes are split into the frames of its protocol.
    std::optional<ProtocolChoice> protocol;
    // Every intact frame is answered as a tracking server answers it; implies recognition.
    bool acknowledge = false;
    // The operator's command is followed by CR LF; off for a command that carries its own
    // framing (a device protocol's command frame).
    bool appendCrLf = true;
    // Every intact frame is decoded: its records and fields shown, its records written to
    // positions.csv of the capture folder; implies recognition.
    bool decode = false;
    // Every event goes to the session index of the capture folder.
    bool sessionIndex = false;
    // The one local address to listen on; empty for every address.
    QString listenAddress;
    // Trackers served at once. With 1 a tracker that connects while another is served is
    // declined; with more, each is named in its lines and relays over a connection of its own.
    int maxTrackers = 1;
    static constexpr int MostTrackers = 10000;
    // Servers that get a copy of every tracker chunk, as HOST:PORT, over a connection per
    // tracker; what they answer is captured and never sent to the tracker.
    QStringList mirrors;
    static constexpr int MostMirrors = 4;
    // The IN port is bound for UDP too: each datagram is a chunk, each source address and port
    // a tracker (a UDP peer), forgotten after udpIdleSeconds without a datagram.
    bool udp = false;
    int udpIdleSeconds = 300;
};

// True for HOST:PORT with a host and a port from 1 to 65535, as a mirror is given.
[[nodiscard]] inline bool isHostAndPort(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    return colon > 0 && ok && port >= 1 && port <= 65535;
}

#endif

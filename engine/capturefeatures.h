#ifndef GPSA_CAPTUREFEATURES_H
#define GPSA_CAPTUREFEATURES_H

#include "trackerprotocol.h"

#include <QString>

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
};

#endif

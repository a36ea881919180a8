#ifndef GPSA_ENGINERIG_H
#define GPSA_ENGINERIG_H

#include "captureengine.h"
#include "endpointarray.h"
#include "fakecontrols.h"
#include "outservers.h"
#include "socketendpoint.h"

#include <QTcpSocket>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// A capture engine on a free IN port with a capture folder of its own and fake controls;
// when relaying, towards an OUT server of its own or at the port given. Settings made on
// the controls before start() are the operator's presets.
struct EngineRig
{
    enum class Relay { Off, ToOwnServer, ToPort };
    explicit EngineRig(Relay relay = Relay::Off, quint16 port = 0);

    void start();
    // A tracker connected once the engine has logged it; nullptr if it could not connect.
    [[nodiscard]] std::unique_ptr<QTcpSocket> connectTracker();
    // Sends one chunk and waits until it has been captured.
    [[nodiscard]] bool sendChunk(QTcpSocket &tracker, const QByteArray &chunk);

    // Every event of the run from now on, kept in events: the session index switched on.
    // onEvent sees each one as it is kept, from within the engine's handler.
    void keepEvents(std::function<void(const SessionEvent &)> onEvent = {});

    // x<number>_<port>.<extension> and a file's contents, "<missing>" for a missing file.
    [[nodiscard]] static QString name(qint32 number, int port, const char *extension);
    [[nodiscard]] QByteArray file(const QString &name) const;

    QTemporaryDir folder;
    FakeControls controls;
    std::unique_ptr<FakeOutServer> out;
    quint16 inPort;
    quint16 outPort = 0;
    CaptureEngine engine{controls, folder.path()};
    QList<SessionEvent> events;
};

// The kinds of events as the session index names them, separated by blanks.
[[nodiscard]] QString kinds(const QList<SessionEvent> &events);

#endif

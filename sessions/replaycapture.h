#ifndef GPSA_REPLAYCAPTURE_H
#define GPSA_REPLAYCAPTURE_H

#include "sessionindexfile.h"

#include <QByteArray>
#include <QString>

#include <functional>

class PlatformError;

// The capture folder of a replay: what the server sent back, each answer as the capture files
// x<number>_<server port>.dat and .log under one numbering for the whole replay (continuing after
// any captures already in the folder), and an index.tsv. Its lines: connect, out (an answer),
// disconnect or error, each with the server as peer, the server's port, and the note
// "local IP:PORT" that tells the replay's connections apart. The constructor throws a
// PlatformError when the index cannot be opened; a later failure to write is handed to the
// failure function once, and nothing more is written after it.
class ReplayCapture final
{
public:
    using FailureFunction = std::function<void(const PlatformError &)>;

    ReplayCapture(const QString &folder, int serverPort, FailureFunction failure);

    void connected(const QString &server, const QString &local);
    void answer(const QString &server, const QString &local, const QByteArray &bytes);
    void ended(const QString &server, const QString &local);
    // Writes the error log x<number>_err<server port>.log, as the engine does.
    void failed(const QString &server, const QString &local, int number, const QString &description);

    [[nodiscard]] QString folder() const { return m_folder; }

private:
    void writeAnswer(const QString &server, const QString &local, const QByteArray &bytes);
    void writeFailure(const QString &server, const QString &local, int number, const QString &description);
    // Runs a write unless one has failed before.
    template<typename Write>
    void guarded(Write write);
    [[nodiscard]] SessionEvent event(SessionEvent::Kind kind, const QString &server, const QString &local) const;

    QString m_folder;
    int m_port;
    qint32 m_counter = 1;
    SessionIndexFile m_index;
    FailureFunction m_failure;
    bool m_failed = false;
};

#endif

#ifndef GPSA_RELAYPEER_H
#define GPSA_RELAYPEER_H

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// One relay between the benchmark's tracker and its OUT server: the program under test,
// headless or windowed, one of the tools a user would otherwise pick, or nothing at all
// (the tracker connected straight to the OUT server, the floor of the harness).
class RelayPeer final
{
public:
    // Recognising: headless with --protocol auto --auto-ack; AllFeatures: the same with
    // --session-index; Indexing: headless with --session-index alone; Decoding: Recognising with
    // --decode; Fleet: headless with --pass-answers and the arguments given (--max-trackers N);
    // Watched: headless with the live web view on (--web), for the benchmark's viewers.
    enum class Kind { Direct, Socat, SocatDump, Program, Window, Recognising, AllFeatures, Indexing, Decoding,
                      Fleet, Watched };
    // Discard: the peer's standard output goes to the null device. Watch: it goes to a pipe
    // that the benchmark reads, to see when the program has captured something.
    enum class Output { Discard, Watch };

    RelayPeer(Kind kind, QString executable);
    ~RelayPeer();
    RelayPeer(const RelayPeer &) = delete;
    RelayPeer &operator=(const RelayPeer &) = delete;

    [[nodiscard]] static QString name(Kind kind);
    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] bool isProgram() const { return m_kind >= Kind::Program; }

    // Starts relaying to 127.0.0.1:outPort on a free IN port, keeping its files under
    // workFolder. Returns an empty text on success, otherwise what went wrong.
    [[nodiscard]] QString start(quint16 outPort, const QString &workFolder, Output output);
    void setExtraArguments(const QStringList &arguments) { m_extraArguments = arguments; }
    // Relays datagrams: socat from UDP-RECVFROM with a child per datagram, the program with --udp.
    void setUdp(bool udp) { m_udp = udp; }
    // The descriptors the process has open; -1 without a process.
    [[nodiscard]] int openDescriptors() const;
    [[nodiscard]] quint16 inPort() const { return m_inPort; }
    [[nodiscard]] quint16 outPort() const { return m_outPort; }
    // The live view's port and token (Watched).
    [[nodiscard]] quint16 webPort() const { return m_webPort; }
    static constexpr QByteArrayView WebToken{"gpsa-bench-live-view-token"};
    [[nodiscard]] QString captureFolder() const { return m_captureFolder; }
    // The read end of the standard output pipe with Output::Watch, otherwise -1.
    [[nodiscard]] int outputDescriptor() const { return m_outputFd; }
    // The process's peak resident set (VmHWM) in bytes; -1 without a process.
    [[nodiscard]] qint64 peakResidentBytes() const;
    // Processor time the process has used so far, user and system, in seconds; -1 without one.
    [[nodiscard]] double cpuSeconds() const;
    [[nodiscard]] bool isRunning() const;
    // What the process wrote to its standard error, for a failure report.
    [[nodiscard]] QString errorOutput() const;
    void stop();

private:
    Kind m_kind;
    QString m_executable;
    QStringList m_extraArguments;
    bool m_udp = false;
    quint16 m_inPort = 0;
    quint16 m_outPort = 0;
    quint16 m_webPort = 0;
    QString m_captureFolder;
    QString m_errorFile;
    int m_outputFd = -1;
    std::unique_ptr<QProcess> m_process;
};

#endif

// Capture start-up: the shared capture state at load, and the start of a capture run.

#include "captureengine.h"

#include "endpointarray.h"
#include "outputfile.h"
#include "platformerror.h"
#include "portreading.h"
#include "socketendpoint.h"

#include <QDir>
#include <QRegularExpression>

#include <limits>

void CaptureEngine::Form_Load()
{
    m_state.CaptureCounter = 1;
}

void CaptureEngine::Command1_Click()
{
    runHandler([this] {
        m_controls.setEnabled(Control::StartButton, false);
        m_controls.setEnabled(Control::RelaySwitch, false);
        m_controls.setEnabled(Control::InPort, false);
        m_controls.setEnabled(Control::OutPort, false);

        // Outside every region: a number beyond the 32-bit range ends the program.
        const qint32 inPort = readPortNumber(m_controls.text(Control::InPort));
        if (inPort <= 1 || inPort >= 65535)
            endAfterMessage(QStringLiteral("Invalid input port number. Use between 1 and 65535"),
                            QStringLiteral("Error"));

        openCaptureFolder();
        prepareFeatures();

        QString regionTitle = QStringLiteral("Error on input socket!");
        try {
            m_sckListen->setLocalPort(inPort);
            m_sckListen->Listen();

            if (m_controls.value(Control::RelaySwitch) == CheckValue::Ticked) {
                const qint32 outPort = readPortNumber(m_controls.text(Control::OutPort));
                if (outPort == inPort)
                    endAfterMessage(QStringLiteral("Input port cannot be same as output port!"),
                                    QStringLiteral("Error"));
                if (outPort <= 1 || outPort >= 65535)
                    endAfterMessage(QStringLiteral("Invalid output port number. Use between 1 and 65535"),
                                    QStringLiteral("Error"));

                regionTitle = QStringLiteral("Error on output socket!");
                m_sckOUT->setRemotePort(outPort);
                m_sckOUT->setRemoteHost(m_controls.text(Control::OutHost));
                connectRelay();
            }

            regionTitle = QStringLiteral("Error on input socket!");
            listenForDatagrams();

            regionTitle = QStringLiteral("Error after socket load!");
            if (!InitAcceptSockets())
                endAfterMessage(QStringLiteral("Unable to initialise TCP/UDP sockets."), QStringLiteral("Error"));
            m_controls.appendToLog(QStringLiteral("Listening on TCP port ") +
                                   QString::number(m_sckListen->localPort()) + QStringLiteral("\r\n"));
            recordListening();
        } catch (const PlatformError &error) {
            endAfterMessage(error.description(), regionTitle);
        }
    });
}

void CaptureEngine::openCaptureFolder()
{
    // The first capture would otherwise fail on a missing folder, and lose its chunk, or
    // overwrite the last capture of a folder whose numbers have run out.
    QString problem = prepareFolder(m_captureFolder);
    if (problem.isEmpty() && !continueNumbering())
        problem = QStringLiteral("its captures have reached the highest number, %1")
                      .arg(std::numeric_limits<qint32>::max());
    if (problem.isEmpty()) {
        try {
            m_outputFolder.open(m_captureFolder);
        } catch (const PlatformError &error) {
            problem = error.description();
        }
    }
    if (!problem.isEmpty())
        endAfterMessage(QStringLiteral("Unable to use the capture folder %1: %2.")
                            .arg(QDir::toNativeSeparators(m_captureFolder), problem),
                        QStringLiteral("Error"));
}

bool CaptureEngine::InitAcceptSockets()
{
    try {
        // Slot 1, and one more for each further tracker served at once.
        for (int slot = 1; slot <= m_features.maxTrackers; ++slot)
            m_sckAccept->load(qint16(slot));
        return true;
    } catch (const PlatformError &) {
        return false;
    }
}

bool CaptureEngine::continueNumbering()
{
    // A run continues the numbers of the runs before it, so that it never overwrites their
    // captures; in an empty folder the first number is 1. Where the file system does not tell
    // X0001_5000.dat from x0001_5000.dat, neither do the numbers.
    static const QRegularExpression captureName(QStringLiteral("^x(\\d+)_"),
                                                fileNamesIgnoreCase() ? QRegularExpression::CaseInsensitiveOption
                                                                      : QRegularExpression::NoPatternOption);
    qint64 highest = 0;
    const QStringList names = QDir(m_captureFolder).entryList(QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = captureName.match(name);
        if (!match.hasMatch())
            continue;
        bool ok = false;
        const qint64 number = match.capturedView(1).toLongLong(&ok);
        highest = ok ? std::max(highest, number) : std::numeric_limits<qint64>::max();
    }
    if (highest >= std::numeric_limits<qint32>::max())
        return false;
    if (highest >= m_state.CaptureCounter)
        m_state.CaptureCounter = qint32(highest + 1);
    return true;
}

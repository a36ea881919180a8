// PcapFile where the program is built without libpcap (on Windows, where libpcap is Npcap):
// every export fails at once, saying what it needs, and leaves no file behind.
#include "pcapfile.h"

#include "sessionerror.h"

PcapFile::PcapFile(const QString &path) : m_path(path)
{
    throw SessionError(QStringLiteral("Exporting to Wireshark needs Npcap (the Windows form of libpcap), "
                                      "which this build of gps-analyzer does not have."));
}

PcapFile::~PcapFile() = default;

void PcapFile::write(qint64, QByteArrayView) {}

void PcapFile::finish() {}

void PcapFile::fail(const QString &why)
{
    throw SessionError(why);
}

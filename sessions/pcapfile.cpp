#include "pcapfile.h"

#include "sessionerror.h"

#include <QDir>
#include <QFile>

#include <pcap/pcap.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {
constexpr int SnapshotLength = 65535;
} // namespace

PcapFile::PcapFile(const QString &path) : m_path(path)
{
    m_pcap = pcap_open_dead(DLT_RAW, SnapshotLength);
    if (m_pcap == nullptr)
        fail(QStringLiteral("libpcap could not be set up"));
    m_dumper = pcap_dump_open(m_pcap, QFile::encodeName(path).constData());
    if (m_dumper == nullptr) {
        const QString why = QString::fromLocal8Bit(pcap_geterr(m_pcap));
        pcap_close(std::exchange(m_pcap, nullptr));
        fail(why);
    }
}

PcapFile::~PcapFile()
{
    if (m_dumper != nullptr)
        pcap_dump_close(m_dumper);
    if (m_pcap != nullptr)
        pcap_close(m_pcap);
}

void PcapFile::write(qint64 timeUs, QByteArrayView packet)
{
    pcap_pkthdr header{};
    header.ts.tv_sec = decltype(header.ts.tv_sec)(timeUs / 1'000'000);
    header.ts.tv_usec = decltype(header.ts.tv_usec)(timeUs % 1'000'000);
    header.caplen = header.len = bpf_u_int32(packet.size());
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), &header, reinterpret_cast<const u_char *>(packet.data()));
}

void PcapFile::finish()
{
    errno = 0;
    const bool written = pcap_dump_flush(m_dumper) == 0 && !std::ferror(pcap_dump_file(m_dumper));
    const int error = errno;
    pcap_dump_close(m_dumper);
    m_dumper = nullptr;
    if (!written)
        fail(QString::fromLocal8Bit(std::strerror(error != 0 ? error : EIO)));
}

void PcapFile::fail(const QString &why)
{
    throw SessionError(QStringLiteral("%1 cannot be written: %2.").arg(QDir::toNativeSeparators(m_path), why));
}

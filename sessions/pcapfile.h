#ifndef GPSA_PCAPFILE_H
#define GPSA_PCAPFILE_H

#include <QByteArrayView>
#include <QString>

struct pcap;
struct pcap_dumper;

// A capture file in the pcap format, written through libpcap, of link type RAW: each packet
// starts with its IPv4 or IPv6 header. Failures throw a SessionError naming the file.
class PcapFile final
{
public:
    explicit PcapFile(const QString &path);
    ~PcapFile();
    PcapFile(const PcapFile &) = delete;
    PcapFile &operator=(const PcapFile &) = delete;

    void write(qint64 timeUs, QByteArrayView packet);
    // Writes out what is buffered and closes the file; throws if any of it was not written.
    void finish();

private:
    [[noreturn]] void fail(const QString &why);

    QString m_path;
    pcap *m_pcap = nullptr;
    pcap_dumper *m_dumper = nullptr;
};

#endif

#ifndef GPSA_SESSIONDOWNLOADS_H
#define GPSA_SESSIONDOWNLOADS_H

#include <QByteArray>
#include <QString>

// The files that the live page offers for one tracker connection of a capture folder: the
// session as a pcap file (the export's), and its capture files in a zip. Both are made in
// memory, so a session larger than Limit is refused: the export subcommand takes any size.
// Failures throw a SessionError.
namespace SessionDownloads {

struct File
{
    QString name; // session-3.pcap
    QByteArray contentType;
    QByteArray bytes;
};

// session: from 1, or 0 for the last; inPort: the IN port, for a folder without an index.
[[nodiscard]] File pcap(const QString &folder, int inPort, int session);
[[nodiscard]] File zip(const QString &folder, int inPort, int session);

inline constexpr qint64 Limit = 64 * 1024 * 1024;

} // namespace SessionDownloads

#endif

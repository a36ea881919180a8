#include "sessiondownloads.h"

#include "capturefiles.h"
#include "pcapexport.h"
#include "sessionerror.h"
#include "sessionindex.h"
#include "zipwriter.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

namespace SessionDownloads {

namespace {

struct Picked
{
    SessionIndex index;
    int number;
    const RecordedSession &session() const { return index.sessions().at(number - 1); }
};

Picked pick(const QString &folder, int inPort, int session)
{
    Picked picked{SessionIndex::read(folder, inPort), session};
    const int count = int(picked.index.sessions().size());
    if (session == 0)
        picked.number = count;
    if (picked.number < 1 || picked.number > count)
        throw SessionError(QStringLiteral("%1 holds no session %2.").arg(QDir::toNativeSeparators(folder)).arg(session));
    return picked;
}

// The events of a session, its connect first.
QList<qsizetype> eventsOf(const RecordedSession &session)
{
    QList<qsizetype> events = session.events;
    if (session.connect >= 0)
        events.prepend(session.connect);
    return events;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SessionError(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return file.readAll();
}

void checkSize(qint64 bytes, int session)
{
    if (bytes > Limit)
        throw SessionError(QStringLiteral("Session %1 is larger than the live view offers (%2 MiB): use "
                                          "gps-analyzer export.")
                               .arg(session)
                               .arg(Limit >> 20));
}

} // namespace

File pcap(const QString &folder, int inPort, int session)
{
    const Picked picked = pick(folder, inPort, session);
    qint64 bytes = 0;
    for (const qsizetype e : eventsOf(picked.session()))
        bytes += std::max<qint64>(picked.index.events().at(e).event.length, 0);
    checkSize(bytes, picked.number);
    const QTemporaryDir scratch;
    const QString target = scratch.filePath(QStringLiteral("session.pcap"));
    PcapExport::write(picked.index, picked.number, target);
    return {QStringLiteral("session-%1.pcap").arg(picked.number), "application/vnd.tcpdump.pcap", readFile(target)};
}

File zip(const QString &folder, int inPort, int session)
{
    const Picked picked = pick(folder, inPort, session);
    QList<ZipWriter::Entry> files;
    QSet<QString> taken;
    qint64 bytes = 0;
    const auto add = [&](const QString &name) {
        if (name.isEmpty() || taken.contains(name) || !QFile::exists(QDir(folder).filePath(name)))
            return;
        taken.insert(name);
        files.append({name, readFile(QDir(folder).filePath(name))});
        bytes += files.last().second.size();
        checkSize(bytes, picked.number);
    };
    for (const qsizetype e : eventsOf(picked.session())) {
        const SessionEvent &event = picked.index.events().at(e).event;
        add(event.file);
        // A data file's length log goes with it.
        if (event.file.endsWith(QLatin1StringView(".dat")))
            add(CaptureFiles::lengthLog(event.number, event.port));
    }
    if (files.isEmpty())
        throw SessionError(QStringLiteral("Session %1 has no capture files.").arg(picked.number));
    return {QStringLiteral("session-%1.zip").arg(picked.number), "application/zip",
            ZipWriter::archive(files, QDateTime::currentDateTime())};
}

} // namespace SessionDownloads

#ifndef GPSA_SESSIONFOLDER_H
#define GPSA_SESSIONFOLDER_H

#include "capturefiles.h"
#include "sessionindexfile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

// A capture folder written as the engine writes one: capture files, and index.tsv through the
// real writer. Times are microseconds after Start.
struct SessionFolder
{
    static constexpr qint64 Start = 1'796'586'207'000'000; // 2026-12-06T19:43:27Z

    SessionFolder() : index(std::make_unique<SessionIndexFile>(dir.path())) {}

    void record(SessionEvent::Kind kind, qint64 afterUs, const QString &peer, int port, const QString &note = {},
                const QByteArray &bytes = {})
    {
        SessionEvent e;
        e.kind = kind;
        e.timeUs = Start + afterUs;
        e.peer = peer;
        e.port = port;
        e.note = note;
        e.bytes = bytes;
        e.length = bytes.isEmpty() ? -1 : bytes.size();
        index->record(e);
    }

    // An in or out chunk: its two capture files, then its line. Returns the data file's name.
    QString capture(SessionEvent::Kind kind, qint64 afterUs, const QString &peer, int port, const QByteArray &chunk)
    {
        SessionEvent e;
        e.kind = kind;
        e.timeUs = Start + afterUs;
        e.number = number++;
        e.peer = peer;
        e.port = port;
        e.length = chunk.size();
        e.file = QFileInfo(CaptureFiles::dataFileName(dir.path(), e.number, port)).fileName();
        write(e.file, chunk);
        write(QFileInfo(CaptureFiles::lengthLogName(dir.path(), e.number, port)).fileName(),
              CaptureFiles::lengthLine(chunk.size()));
        index->record(e);
        return e.file;
    }

    void pass(qint64 afterUs, const QString &tracker, int port, const QString &outFile, qint64 length)
    {
        SessionEvent e;
        e.kind = SessionEvent::Kind::Pass;
        e.timeUs = Start + afterUs;
        e.number = outFile.mid(1, outFile.indexOf(QLatin1Char('_')) - 1).toInt();
        e.peer = tracker;
        e.port = port;
        e.length = length;
        e.file = outFile;
        index->record(e);
    }

    void write(const QString &name, const QByteArray &bytes) const
    {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }

    QTemporaryDir dir;
    std::unique_ptr<SessionIndexFile> index;
    qint32 number = 1;
};

#endif

#ifndef GPSA_SESSIONFOLDER_H
#define GPSA_SESSIONFOLDER_H

#include "capturefiles.h"
#include "sessionindexfile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

using namespace Qt::StringLiterals;
using Kind = SessionEvent::Kind;

// A capture folder written as the engine writes one: data files, and index.tsv through the real
// writer. Times are microseconds after Start.
struct SessionFolder
{
    static constexpr qint64 Start = 1'796'586'207'000'000; // 2026-12-06T19:43:27Z

    // One event. The bytes of an in or out chunk go to its data file (its length log is left out:
    // nothing reads it back), those of a cmd to its line; a pass is the last chunk's answer passed
    // on, of the length of bytes.
    void add(Kind kind, qint64 afterUs, const QString &peer, int port, const QByteArray &bytes = {},
             const QString &note = {})
    {
        SessionEvent e{kind, Start + afterUs, 0, peer, port, bytes.isEmpty() ? -1 : bytes.size(), {}, {}, note};
        if (kind == Kind::In || kind == Kind::Out) {
            e.number = number++;
            e.file = lastFile = QFileInfo(CaptureFiles::dataFileName(dir.path(), e.number, port)).fileName();
            write(e.file, bytes);
        } else if (kind == Kind::Pass) {
            e.number = number - 1;
            e.file = lastFile;
        } else {
            e.bytes = bytes;
        }
        index->record(e);
    }

    void write(const QString &name, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly) const
    {
        QFile f(dir.filePath(name));
        if (f.open(mode))
            f.write(bytes);
    }

    QTemporaryDir dir;
    std::unique_ptr<SessionIndexFile> index = std::make_unique<SessionIndexFile>(dir.path());
    qint32 number = 1;
    QString lastFile;
};

// What a subcommand printed and returned.
struct Result
{
    int status = -1;
    QString output;
    QString errors;
};

// exportCommand or replayCommand; the arguments start with the subcommand's name.
inline Result runCommand(int (*command)(const QStringList &, QTextStream &, QTextStream &), const QStringList &arguments)
{
    Result r;
    QTextStream output(&r.output), errors(&r.errors);
    r.status = command(QStringList{u"gps-analyzer"_s} + arguments, output, errors);
    output.flush();
    errors.flush();
    return r;
}

#endif

// The file work of one chunk and nothing else, as fast as it can go: create and open the
// data file and the length log, write the chunk and its length line, close both, in the
// order the capture path does it. Its time per chunk is the ceiling on chunk events per
// second of any program that keeps these files.
//
//   gpsa-bench-filework --folder DIR [--chunks N] [--size BYTES] [--port PORT] [--output-file]
//
// Prints one line: "<microseconds per chunk> <chunks per second>". With --output-file the
// files are written through the platform's OutputFile, as the program writes them.

#include "capturefiles.h"
#include "outputfile.h"
#include "platformerror.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool writeWhole(int fd, const QByteArray &bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

bool plainChunk(const QString &dataName, const QString &logName, const QByteArray &chunk)
{
    const QByteArray dataPath = QFile::encodeName(dataName);
    const QByteArray logPath = QFile::encodeName(logName);
    const int data = ::open(dataPath.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const int log = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (data == -1 || log == -1)
        return false;
    const bool written = writeWhole(data, chunk) && writeWhole(log, CaptureFiles::lengthLine(chunk.size()));
    const bool dataClosed = ::close(data) == 0;
    const bool logClosed = ::close(log) == 0;
    return written && dataClosed && logClosed;
}

void outputFileChunk(const QString &dataName, const QString &logName, const QByteArray &chunk)
{
    OutputFile data;
    data.open(dataName, OutputFile::Mode::Raw);
    OutputFile log;
    log.open(logName, OutputFile::Mode::Text);
    data.write(chunk);
    log.write(CaptureFiles::lengthLine(chunk.size()));
    data.close();
    log.close();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption folderOption(QStringLiteral("folder"), QStringLiteral("Empty folder for the files."),
                                          QStringLiteral("dir"));
    const QCommandLineOption chunksOption(QStringLiteral("chunks"), QStringLiteral("Chunks to write."),
                                          QStringLiteral("n"), QStringLiteral("2000"));
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("Bytes per chunk."),
                                        QStringLiteral("bytes"), QStringLiteral("100"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port in the file names."),
                                        QStringLiteral("port"), QStringLiteral("5000"));
    const QCommandLineOption outputFileOption(QStringLiteral("output-file"),
                                              QStringLiteral("Write through OutputFile, as the program does."));
    parser.addOptions({folderOption, chunksOption, sizeOption, portOption, outputFileOption});
    parser.process(app);

    const QString folder = parser.value(folderOption);
    const int chunks = parser.value(chunksOption).toInt();
    const int size = parser.value(sizeOption).toInt();
    const int port = parser.value(portOption).toInt();
    if (folder.isEmpty() || !QDir(folder).exists() || chunks <= 0 || size < 0) {
        std::fprintf(stderr, "gpsa-bench-filework: give an existing --folder, --chunks > 0, --size >= 0\n");
        return 2;
    }
    const bool throughOutputFile = parser.isSet(outputFileOption);

    QByteArray chunk(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        chunk[i] = char(i * 7 + 3);

    QElapsedTimer clock;
    clock.start();
    for (qint32 counter = 1; counter <= chunks; ++counter) {
        // The names are built for every chunk, as the capture path builds them.
        const QString dataName = CaptureFiles::dataFileName(folder, counter, port);
        const QString logName = CaptureFiles::lengthLogName(folder, counter, port);
        if (throughOutputFile) {
            try {
                outputFileChunk(dataName, logName, chunk);
            } catch (const PlatformError &error) {
                std::fprintf(stderr, "gpsa-bench-filework: %s\n", error.what());
                return 1;
            }
        } else if (!plainChunk(dataName, logName, chunk)) {
            std::fprintf(stderr, "gpsa-bench-filework: cannot write %s\n", qPrintable(dataName));
            return 1;
        }
    }
    const double micros = double(clock.nsecsElapsed()) / 1000.0 / chunks;
    std::printf("%.3f %.1f\n", micros, 1e6 / micros);
    return 0;
}

#ifndef GPSA_OUTPUTFILE_H
#define GPSA_OUTPUTFILE_H

#include "platformerror.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// A capture file, opened, written and closed within one handler. Every failure (a missing
// folder, a full disk, a file that may not be written) throws a PlatformError whose number
// tells its kind and whose description names the file.
class OutputFile final
{
public:
    enum class Mode {
        Raw,  // read and write, created when missing, emptied so that no older bytes stay behind
        Text, // created anew for output
    };

    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    void open(const QString &path, Mode mode);
    void write(const QByteArray &bytes);
    void close();

    [[nodiscard]] bool isOpen() const { return m_file.isOpen(); }

private:
    [[noreturn]] void fail(int systemError);

    QFile m_file;
};

// The error of a file operation that failed with the system's error code (errno), naming the
// file: 76 path not found, 70 permission denied, 61 disk full, 75 anything else.
[[nodiscard]] PlatformError fileError(int systemError, const QString &path);

// Makes sure that folder exists, creating it and any missing parent folders, and that new
// files can be created in it. Returns an empty text on success, otherwise what went wrong.
[[nodiscard]] QString prepareFolder(const QString &folder);

// The capture folder when none is given: c:\capture on Windows, $HOME/capture elsewhere.
[[nodiscard]] QString defaultCaptureFolder();

#endif

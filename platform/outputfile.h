#ifndef GPSA_OUTPUTFILE_H
#define GPSA_OUTPUTFILE_H

#include "platformerror.h"

#include <QByteArray>
#include <QString>

// A folder held open for a run, in which files are created by their names alone: no path is
// resolved for each one (on POSIX systems an openat() on the held descriptor; elsewhere the
// path). A folder renamed while held goes on taking the files; one removed fails them.
class OutputFolder final
{
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder &) = delete;
    OutputFolder &operator=(const OutputFolder &) = delete;

    // Throws a PlatformError when the folder cannot be opened.
    void open(const QString &path);
    [[nodiscard]] const QString &path() const { return m_path; }
    [[nodiscard]] int descriptor() const { return m_descriptor; }

private:
    QString m_path;
    int m_descriptor = -1;
};

// A capture file, opened, written and closed within one handler, or a file of the capture folder
// held open for appending for a run. Every failure (a missing folder, a full disk, a file that
// may not be written) throws a PlatformError whose number tells its kind and whose description
// names the file.
class OutputFile final
{
public:
    enum class Mode {
        Raw,  // read and write, created when missing, emptied so that no older bytes stay behind
        Text, // created anew for output
        // write only, created when missing and kept otherwise: each write goes to its end in one
        // system call, so that the file is whole up to the last write however the program ends
        Append,
    };

    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    ~OutputFile();

    void open(const QString &path, Mode mode);
    // The file of that name in the folder; the name is Latin-1.
    void open(const OutputFolder &folder, const QString &name, Mode mode);
    void write(const QByteArray &bytes);
    void close();
    // The open file's size in bytes: 0 for an appended file whose header is still to be written.
    [[nodiscard]] qint64 size();

    [[nodiscard]] bool isOpen() const { return m_descriptor != -1; }

private:
    [[noreturn]] void fail(int systemError);

    const OutputFolder *m_folder = nullptr;
    QString m_name; // a path without a folder
    int m_descriptor = -1;
};

// The error of a file operation that failed with the system's error code (errno), naming the
// file: 76 path not found, 70 permission denied, 61 disk full, 75 anything else.
[[nodiscard]] PlatformError fileError(int systemError, const QString &path);

// Makes sure that folder exists, creating it and any missing parent folders, and that new
// files can be created in it. Returns an empty text on success, otherwise what went wrong.
[[nodiscard]] QString prepareFolder(const QString &folder);

// Whether the file system takes names that differ in case alone for one file: on Windows.
[[nodiscard]] bool fileNamesIgnoreCase();

// The capture folder when none is given: c:\capture on Windows, $HOME/capture elsewhere.
[[nodiscard]] QString defaultCaptureFolder();

#endif

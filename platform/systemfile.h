#ifndef GPSA_SYSTEMFILE_H
#define GPSA_SYSTEMFILE_H

#include <QString>
#include <QtGlobal>

// The C run-time's file descriptor calls in one spelling: the POSIX calls, or on Windows the
// _open family, in binary mode. Files are not inherited by child processes. Failures give -1
// with errno set.
namespace SystemFile {

enum class Open {
    ReadWrite, // created when missing, emptied
    Write,     // created when missing, emptied
    Append,    // created when missing, written at its end
};

[[nodiscard]] int open(const QString &path, Open how, int permissions);
// One write call: it may take fewer bytes than given.
[[nodiscard]] qint64 write(int descriptor, const char *data, qsizetype size);
int close(int descriptor);
// The size of the open file.
[[nodiscard]] qint64 size(int descriptor);
[[nodiscard]] bool isTerminal(int descriptor);
// Waits until a descriptor in non-blocking mode takes bytes again; false where it cannot wait.
bool waitWritable(int descriptor);
// The flags of open(how), for the system's own open calls.
[[nodiscard]] int openFlags(Open how);

} // namespace SystemFile

#endif

#ifndef GPSA_APPENDFILE_H
#define GPSA_APPENDFILE_H

#include <QByteArray>
#include <QString>

// A file of a capture folder open for appending for one run (the session index, the decoded
// positions): created when missing, and a later run appends to it. Each write() hands its bytes
// to the system in one write before it returns, so that the file is complete up to the last
// write however the program ends. A failure throws a PlatformError naming the file (76 path not
// found, 70 permission denied, 61 disk full, 75 other).
class AppendFile final
{
public:
    explicit AppendFile(QString path);
    ~AppendFile();
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    // The file held nothing when it was opened: its header is still to be written.
    [[nodiscard]] bool wasEmpty() const { return m_wasEmpty; }
    void write(const QByteArray &bytes);
    [[nodiscard]] const QString &path() const { return m_path; }

private:
    QString m_path;
    int m_descriptor = -1;
    bool m_wasEmpty = false;
};

#endif

#ifndef GPSA_SESSIONINDEXFILE_H
#define GPSA_SESSIONINDEXFILE_H

#include "sessionrecorder.h"

#include <QLatin1StringView>
#include <QString>

// The session index of a capture folder, folder/index.tsv, open for appending for one run: it
// is created with its header line when missing, and a later run appends to it. Each event is
// one line, handed to the system in one write before record() returns, so that the file is
// complete up to the last event however the program ends. A failure throws a PlatformError
// naming the file (76 path not found, 70 permission denied, 61 disk full, 75 other).
class SessionIndexFile final : public SessionRecorder
{
public:
    static constexpr QLatin1StringView FileName{"index.tsv"};

    explicit SessionIndexFile(const QString &folder);
    ~SessionIndexFile() override;
    SessionIndexFile(const SessionIndexFile &) = delete;
    SessionIndexFile &operator=(const SessionIndexFile &) = delete;

    void record(const SessionEvent &event) override;

    [[nodiscard]] QString path() const { return m_path; }

private:
    void writeAll(const QByteArray &bytes);

    QString m_path;
    int m_descriptor = -1;
};

#endif

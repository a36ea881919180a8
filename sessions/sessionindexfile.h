#ifndef GPSA_SESSIONINDEXFILE_H
#define GPSA_SESSIONINDEXFILE_H

#include "outputfile.h"
#include "sessionrecorder.h"

#include <QLatin1StringView>
#include <QString>

// The session index of a capture folder, folder/index.tsv, open for appending for one run: it
// is created with its header line when missing, and a later run appends to it. Each event is
// one line, written in one write. A failure throws a PlatformError naming the file.
class SessionIndexFile final : public SessionRecorder
{
public:
    static constexpr QLatin1StringView FileName{"index.tsv"};

    explicit SessionIndexFile(const QString &folder);

    void record(const SessionEvent &event) override;

private:
    OutputFile m_file;
};

#endif

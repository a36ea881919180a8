#ifndef GPSA_CAPTUREPOSITIONS_H
#define GPSA_CAPTUREPOSITIONS_H

#include "positionrecorder.h"
#include "trackerprotocol.h"

#include <QList>
#include <QString>

#include <optional>

// The positions in a capture folder recorded without decoding. Its sessions come from index.tsv
// where there is one; otherwise from the tracker-port capture files in number order, each run of
// consecutive captures one session (an error log or a gap in the numbers ends one; the OUT
// server's captures between them do not). Each session's frames are split as the live capture
// splits them, its protocol detected unless one is given, and every frame decoded.
struct CapturePositions
{
    QList<PositionRow> rows;
    qsizetype chunks = 0;     // the tracker's chunks read
    qsizetype notDecoded = 0; // frames that gave a reason instead of their content

    // session: from 1; 0 for every session. Throws a SessionError naming what cannot be read.
    [[nodiscard]] static CapturePositions read(const QString &folder, int session,
                                               std::optional<ProtocolChoice> protocol);
    // The number of devices among the rows.
    [[nodiscard]] qsizetype devices() const;
};

#endif

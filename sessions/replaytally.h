#ifndef GPSA_REPLAYTALLY_H
#define GPSA_REPLAYTALLY_H

#include <QtGlobal>

#include <vector>

// The counts of a replay, added to by each of its connections.
struct ReplayTally
{
    int connected = 0;
    int failed = 0; // could not connect
    int broken = 0; // reset by the server, or closed by it before every chunk had gone
    int finished = 0;
    qint64 chunksSent = 0;
    qint64 bytesSent = 0;
    qint64 answers = 0; // reads of what the server sent
    qint64 answerBytes = 0;
    // For each chunk answered: microseconds from its write to the first byte read after it.
    std::vector<qint64> answerTimesUs;

    // The time within which the given share (0.5, 0.99) of the answered chunks were answered, by
    // the nearest rank; -1 when none was.
    [[nodiscard]] qint64 answerTimePercentileUs(double share) const;
};

#endif

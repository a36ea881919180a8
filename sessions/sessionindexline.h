#ifndef GPSA_SESSIONINDEXLINE_H
#define GPSA_SESSIONINDEXLINE_H

#include "sessionrecorder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// The lines of the session index, index.tsv: UTF-8, tab-separated, one event per line ending
// in LF, under one header line. Fields: number (empty for 0), time (UTC, ISO 8601 with
// microseconds), event (listen connect declined in out cmd ack pass error disconnect mirror), peer,
// port (empty for 0), length (empty for -1), file, bytes (uppercase hex, no separators) and
// note. Tabs, CR, LF and backslashes in the texts are written as \t, \r, \n and \\.
namespace SessionIndexLine {

inline constexpr QByteArrayView Header{"number\ttime\tevent\tpeer\tport\tlength\tfile\tbytes\tnote"};

// The event's line, with its LF.
[[nodiscard]] QByteArray format(const SessionEvent &event);

// The event of one line, given without its LF. Throws a SessionError that tells what is wrong,
// without the file and line, which the caller knows.
[[nodiscard]] SessionEvent parse(QByteArrayView line);

// The event field of a kind: "in", "disconnect".
[[nodiscard]] QByteArrayView kindName(SessionEvent::Kind kind);

// Microseconds since 1970 (UTC) of 2026-12-06T19:43:27.123456Z, as
// PositionText::appendCaptureTime() writes them.
[[nodiscard]] std::optional<qint64> parseUtcTime(QByteArrayView text);

} // namespace SessionIndexLine

#endif

// TK103 and Coban trackers (Coban "GPRS protocol" of the TK102/TK103/GPS103 family): the login
// "##,imei:<IMEI>,A;", the heartbeat "<IMEI>;" and reports "imei:<IMEI>,<keyword>,<local time
// yymmddhhmm[ss]>,<phone>,<F|L>,<UTC hhmmss.sss>,<A|V>,<ddmm.mmmm>,<N|S>,<dddmm.mmmm>,<E|W>,
// <speed in knots>,<course>,<altitude>,...;". F reports carry the GPS fix; L reports the cell
// (LAC and cell id in hex) instead. The GPS time has no date: the fix takes the date of the
// report's local time, a day earlier or later where the two clocks straddle midnight.

#include "decoding.h"
#include "framing.h"

namespace Decoding {

namespace {

// The local stamp's date (ms since 1970 at its midnight) and its time of day in ms.
struct LocalStamp
{
    qint64 midnightMs;
    qint64 timeOfDayMs;
};

std::optional<LocalStamp> localStamp(QByteArrayView stamp)
{
    if (stamp.size() != 10 && stamp.size() != 12)
        return std::nullopt;
    const int year = digitsAt(stamp, 0, 2), month = digitsAt(stamp, 2, 2), day = digitsAt(stamp, 4, 2);
    const int hour = digitsAt(stamp, 6, 2), minute = digitsAt(stamp, 8, 2);
    const int second = stamp.size() == 12 ? digitsAt(stamp, 10, 2) : 0;
    if (year < 0 || month < 1 || day < 1 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const qint64 midnight = utcMs(fullYear(year), month, day, 0, 0, 0);
    return LocalStamp{midnight, ((hour * 60LL + minute) * 60 + second) * 1000};
}

// The UTC fix time: the GPS time of day on the local date, moved by a day where the clocks
// differ by more than half a day (time zones lie within 14 hours of UTC).
std::optional<qint64> fixTime(QByteArrayView stamp, QByteArrayView gpsTime)
{
    const std::optional<LocalStamp> local = localStamp(stamp);
    const qint64 ofDay = timeOfDayMs(gpsTime);
    if (!local || ofDay < 0)
        return std::nullopt;
    qint64 midnight = local->midnightMs;
    if (ofDay - local->timeOfDayMs > MsPerDay / 2)
        midnight -= MsPerDay;
    else if (local->timeOfDayMs - ofDay > MsPerDay / 2)
        midnight += MsPerDay;
    return midnight + ofDay;
}

} // namespace

void decodeTk103(const TrackerFrame &frame, DecodedFrame &out)
{
    FrameReader body(Framing::textBody(frame.bytes));
    if (frame.kind == QLatin1StringView("login") || frame.kind == QLatin1StringView("heartbeat")) {
        out.fields.add("imei", frame.deviceId.toLatin1());
        return;
    }
    body.skipFields(); // "imei:<IMEI>"
    const QByteArrayView keyword = body.field();
    const QByteArrayView stamp = body.field();
    const QByteArrayView phone = body.field();
    const QByteArrayView source = body.field();
    if (source != "F") {
        out.fields.add("keyword", keyword);
        // L: the cell's LAC and id in the third and fifth fields after it.
        QByteArrayView cell[5];
        for (int i = 0; source == "L" && i < 5 && body.hasField(); ++i)
            cell[i] = body.field();
        if (!cell[2].isEmpty())
            out.fields.add("lac", cell[2]);
        if (!cell[4].isEmpty())
            out.fields.add("cid", cell[4]);
        return;
    }
    PositionRecord &record = out.addRecord();
    record.fixTimeMs = fixTime(stamp, body.field());
    readRmcFix(body, record);
    if (body.hasField())
        record.courseDeg = number(body.field(), "course");
    if (body.hasField())
        record.altitudeM = number(body.field(), "altitude");
    record.fields.add("keyword", keyword);
    if (!phone.isEmpty())
        record.fields.add("phone", phone);
}

} // namespace Decoding

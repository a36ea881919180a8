// The session index's line reader: any line reads as an event or fails with a SessionError,
// never a crash; an event read writes a line that reads back as the same event.

#include "fuzzinput.h"
#include "sessionerror.h"
#include "sessionindexline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray written;
    try {
        written = SessionIndexLine::format(SessionIndexLine::parse(QByteArrayView(data, qsizetype(size))));
    } catch (const SessionError &) {
        return 0;
    }
    require(written.endsWith('\n') && written.count('\n') == 1, "a line has one LF, at its end");
    try {
        const SessionEvent back = SessionIndexLine::parse(QByteArrayView(written).chopped(1));
        require(SessionIndexLine::format(back) == written, "a written line reads back as the same event");
    } catch (const SessionError &) {
        propertyFails("a written line reads back");
    }
    return 0;
}

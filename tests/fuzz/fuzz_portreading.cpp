// The port reading of the start-up: any operator text reads as a number without a crash;
// the port is that number rounded half to even, or the overflow error.

#include "fuzzinput.h"
#include "platformerror.h"
#include "portreading.h"

#include <cfenv>
#include <cmath>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);

    double number = 0;
    bool numberOverflows = false;
    try {
        number = readNumber(text);
        require(std::isfinite(number), "readNumber gives a finite number");
    } catch (const PlatformError &error) {
        require(error.number() == ErrorNumber::Overflow, "readNumber fails only with the overflow error");
        numberOverflows = true;
    }

    try {
        const qint32 port = readPortNumber(text);
        require(!numberOverflows, "readPortNumber fails where readNumber does");
        require(std::fegetround() == FE_TONEAREST, "the rounding mode is left as it was");
        require(std::fabs(number - double(port)) <= 0.5, "the port is the number rounded");
        if (std::fabs(number - double(port)) == 0.5)
            require(port % 2 == 0, "a half goes to the even neighbour");
    } catch (const PlatformError &error) {
        require(error.number() == ErrorNumber::Overflow, "readPortNumber fails only with the overflow error");
        require(error.description() == QStringLiteral("Overflow"), "the overflow error says so");
        require(numberOverflows || std::nearbyint(number) < double(std::numeric_limits<qint32>::min()) ||
                    std::nearbyint(number) > double(std::numeric_limits<qint32>::max()),
                "only a number beyond the 32-bit range overflows");
    }
    return 0;
}

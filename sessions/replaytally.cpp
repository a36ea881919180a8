#include "replaytally.h"

#include <algorithm>
#include <cmath>

qint64 ReplayTally::answerTimePercentileUs(double share) const
{
    if (answerTimesUs.empty())
        return -1;
    std::vector<qint64> sorted = answerTimesUs;
    const auto rank = std::clamp<std::size_t>(std::size_t(std::ceil(share * double(sorted.size()))), 1, sorted.size());
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(rank - 1), sorted.end());
    return sorted[rank - 1];
}

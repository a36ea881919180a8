// The pane measurement when the window library is not part of the build.

#include "panebench.h"

namespace PaneBench {

bool available()
{
    return false;
}

Result measure(int, int)
{
    return {0, QStringLiteral("the window library is not built")};
}

} // namespace PaneBench

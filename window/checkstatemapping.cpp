#include "checkstatemapping.h"

#include "controls.h"
#include "platformerror.h"

namespace {
// The run-time error that a property given a value outside its range raises.
constexpr int InvalidPropertyValue = 380;
} // namespace

namespace CheckStateMapping {

int valueOf(Qt::CheckState state)
{
    switch (state) {
    case Qt::Unchecked:
        return CheckValue::Clear;
    case Qt::Checked:
        return CheckValue::Ticked;
    case Qt::PartiallyChecked:
        return CheckValue::Grayed;
    }
    return CheckValue::Clear;
}

Qt::CheckState stateOf(int value)
{
    switch (value) {
    case CheckValue::Clear:
        return Qt::Unchecked;
    case CheckValue::Ticked:
        return Qt::Checked;
    case CheckValue::Grayed:
        return Qt::PartiallyChecked;
    default:
        throw PlatformError(InvalidPropertyValue, QStringLiteral("Invalid property value"));
    }
}

} // namespace CheckStateMapping

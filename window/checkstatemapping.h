#ifndef GPSA_CHECKSTATEMAPPING_H
#define GPSA_CHECKSTATEMAPPING_H

#include <Qt>

// The one place where a check box value (0 clear, 1 ticked, 2 grayed) meets Qt's check state.
namespace CheckStateMapping {

[[nodiscard]] int valueOf(Qt::CheckState state);
// Throws PlatformError (invalid property value) for a value other than 0, 1 or 2.
[[nodiscard]] Qt::CheckState stateOf(int value);

} // namespace CheckStateMapping

#endif

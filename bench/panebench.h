#ifndef GPSA_PANEBENCH_H
#define GPSA_PANEBENCH_H

#include <QString>

// The cost of adding one line to the window's data pane when it already holds many lines,
// measured in this process on the offscreen platform.
namespace PaneBench {

struct Result
{
    double micros = 0; // median time of one prependToDataPane()
    QString problem;
};

// Fills a fresh window's pane with `lines` short lines, then times `samples` more.
[[nodiscard]] Result measure(int lines, int samples);

} // namespace PaneBench

#endif

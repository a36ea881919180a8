// gpsa-bench: the load generator of the capture path. Plays the tracker and the OUT server,
// runs gps-analyzer and the peers a user would otherwise pick, and prints the figures and
// the targets as Markdown tables. See README.md.

#include "benchmark.h"
#include "benchoptions.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The pane is measured in this process, on no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Benchmark benchmark(parseBenchOptions(QCoreApplication::arguments()));
    return benchmark.run() == 0 ? 0 : 1;
}

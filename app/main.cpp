#include "analyzerfrm.h"
#include "outputfile.h"
#include "socketslibrary.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("gps-analyzer"));
    QApplication::setApplicationVersion(QStringLiteral(GPSA_VERSION));

    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    AnalyzerFrm window(defaultCaptureFolder(), *sockets);
    window.Form_Load();
    window.show(); // Form_Activate runs once the window has become active
    window.activateWindow();
    return QApplication::exec();
}

# Precompiled Qt headers. Parsing Qt's headers takes most of the time a file of ours needs to
# compile, so the targets that link the same Qt modules share one precompiled set. GCC refuses
# a shared header built with other macros (-Winvalid-pch, an error with GPSA_WERROR): hence one
# set for each combination of modules that defines its own macros.
#
#   gpsa_precompile_qt(TARGET KIND)   KIND: core, network, widgets, test or widgettest
option(GPSA_PCH "Precompile the Qt headers" ON)

set(GPSA_PCH_core <QByteArray> <QByteArrayView> <QList> <QString> <QStringList> <QStringView>)
set(GPSA_PCH_network ${GPSA_PCH_core} <QCoreApplication> <QDir> <QFile> <QObject> <QTimer> <QTcpSocket>)
set(GPSA_PCH_widgets ${GPSA_PCH_network} <QtWidgets>)
set(GPSA_PCH_test <QtTest> <QtNetwork>)
set(GPSA_PCH_widgettest ${GPSA_PCH_test} <QtWidgets>)

# Qt's test module gives each test the paths of its own folders, for test data that no test
# here looks up by path; without them the tests of every folder can share one header.
if(TARGET Qt6::Test)
    set_property(TARGET Qt6::Test PROPERTY INTERFACE_COMPILE_DEFINITIONS QT_TESTLIB_LIB)
endif()

function(gpsa_precompile_qt target kind)
    if(NOT GPSA_PCH)
        return()
    endif()
    get_property(owner GLOBAL PROPERTY GPSA_PCH_OWNER_${kind})
    if(owner)
        target_precompile_headers(${target} REUSE_FROM ${owner})
    else()
        target_precompile_headers(${target} PRIVATE ${GPSA_PCH_${kind}})
        set_property(GLOBAL PROPERTY GPSA_PCH_OWNER_${kind} ${target})
    endif()
endfunction()

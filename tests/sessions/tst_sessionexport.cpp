#include <QtTest>
class T final : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(T)
#include "tst_sessionexport.moc"

#include "cominterface.h"
#include "testsupport.h"
#include <QtTest>
class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() { QVERIFY(replyMatches("$PS,\r\n", "$PD,1,2\r\n", true)); }
};
QTEST_MAIN(TestLink)
#include "tst_link.moc"

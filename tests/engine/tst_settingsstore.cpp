#include "engine/settingsstore.h"

#include "common/runtimeerror.h"

#include "support/testregistry.h"

#include <QTest>

using namespace SettingsStore;

class SettingsStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void conversions()
    {
        QCOMPARE(ToBoolean("True"), true);
        QCOMPARE(ToBoolean("FALSE"), false);
        QCOMPARE(ToBoolean(" 1 "), true);
        QCOMPARE(ToBoolean("-2.5"), true);
        QCOMPARE(ToBoolean("0"), false);
        for (const char *bad : {"maybe", "", "yes", "1x"}) {
            try {
                ToBoolean(bad);
                QFAIL(qPrintable(QString("accepted ") + bad));
            } catch (const RuntimeError &error) {
                QCOMPARE(error.number(), 13);
            }
        }
        QCOMPARE(ToQuality(" 42"), 42);
        QCOMPARE(ToQuality("-3"), -3);
        QCOMPARE(ToQuality("1e2"), 100);
        QCOMPARE(ToQuality("0.5"), 0);
        QCOMPARE(ToQuality("1.5"), 2);
        QCOMPARE(ToQuality(".5x"), 0);
        QCOMPARE(ToQuality("99999999999999999999"), 1000000000);
    }
};

PELLUCOR_REGISTER_TEST(SettingsStoreTest, unit)
#include "tst_settingsstore.moc"

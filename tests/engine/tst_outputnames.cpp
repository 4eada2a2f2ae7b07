#include "engine/outputnames.h"

#include "support/testregistry.h"

#include <QTest>

class OutputNamesTest : public QObject
{
    Q_OBJECT

private slots:
    void outputPaths_data()
    {
        QTest::addColumn<int>("flavour");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("output");
        const int w = int(PathFlavour::Windows), l = int(PathFlavour::Linux);
        const int chosen = int(OutputMode::ChosenFolder), beside = int(OutputMode::InputFolder);
        struct Row
        {
            const char *input, *out, *root, *beside;
        };
        const Row rows[] = {
            {R"(C:\a\pic.eps)", R"(D:\out\pic.jpg)", R"(D:\pic.jpg)", R"(C:\a\pic.jpg)"},
            {R"(C:\a\x.y.eps)", R"(D:\out\x.y.jpg)", R"(D:\x.y.jpg)", R"(C:\a\x.y.jpg)"},
            {R"(C:\a\noext)", R"(D:\out\noext.jpg)", R"(D:\noext.jpg)", R"(C:\a\noext.jpg)"},
            {R"(C:\a\.eps)", R"(D:\out\.jpg)", R"(D:\.jpg)", R"(C:\a\.eps.jpg)"},
        };
        for (const Row &row : rows) {
            QTest::addRow("windows %s into D:\\out", row.input) << w << row.input << chosen << R"(D:\out)" << row.out;
            QTest::addRow("windows %s into D:\\out\\", row.input)
                << w << row.input << chosen << R"(D:\out\)" << row.out;
            QTest::addRow("windows %s into D:\\", row.input) << w << row.input << chosen << R"(D:\)" << row.root;
            QTest::addRow("windows %s beside", row.input) << w << row.input << beside << R"(D:\out)" << row.beside;
        }
        QTest::newRow("windows network folder") << w << R"(C:\a\pic.eps)" << chosen << R"(\\server\share)"
                                                << R"(\\server\share\pic.jpg)";
        QTest::newRow("windows network input beside") << w << R"(\\srv\s\pic.eps)" << beside << ""
                                                      << R"(\\srv\s\pic.jpg)";
        QTest::newRow("linux chosen") << l << "/home/u/pic.eps" << chosen << "/tmp/out" << "/tmp/out/pic.jpg";
        QTest::newRow("linux chosen with separator") << l << "/home/u/pic.eps" << chosen << "/tmp/out/"
                                                     << "/tmp/out/pic.jpg";
        QTest::newRow("linux chosen root") << l << "/home/u/x.y.eps" << chosen << "/" << "/x.y.jpg";
        QTest::newRow("linux beside") << l << "/home/u/x.y.eps" << beside << "" << "/home/u/x.y.jpg";
        QTest::newRow("linux leading dot beside") << l << "/home/u/.eps" << beside << "" << "/home/u/.eps.jpg";
        QTest::newRow("linux leading dot chosen") << l << "/home/u/.eps" << chosen << "/o" << "/o/.jpg";
        QTest::newRow("linux backslash in a name") << l << R"(/h/a\b.eps)" << chosen << "/o" << R"(/o/a\b.jpg)";
    }
    void outputPaths()
    {
        QFETCH(int, flavour);
        QFETCH(QString, input);
        QFETCH(int, mode);
        QFETCH(QString, folder);
        QFETCH(QString, output);
        QCOMPARE(OutputPath(input, OutputMode(mode), folder, PathFlavour(flavour)), output);
    }
};

PELLUCOR_REGISTER_TEST(OutputNamesTest, unit)
#include "tst_outputnames.moc"

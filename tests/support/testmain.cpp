#include "testregistry.h"

#ifdef PELLUCOR_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char *argv[])
{
    TestApplication app(argc, argv);
    return RunRegisteredTests(argc, argv);
}

#include "testregistry.h"

#include "sandbox/sandbox.h"

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
    // The programs' own helper, not one beside the test programs.
    Sandbox::setHelperFolder(PELLUCOR_APP_DIR);
    return RunRegisteredTests(argc, argv);
}

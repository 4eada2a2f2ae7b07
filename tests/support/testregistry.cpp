#include "testregistry.h"

#include <QTest>

#include <memory>
#include <vector>

namespace {

struct Entry
{
    const char *name;
    TestFactory factory;
};

std::vector<Entry> &registry()
{
    static std::vector<Entry> entries;
    return entries;
}

} // namespace

bool RegisterTestClass(const char *name, TestFactory factory)
{
    registry().push_back({name, std::move(factory)});
    return true;
}

int RunRegisteredTests(int argc, char *argv[])
{
    // "tst_engine ShellJobTest [qtest arguments]" runs one class only.
    QByteArray only;
    std::vector<char *> arguments(argv, argv + argc);
    if (argc > 1) {
        for (const Entry &entry : registry()) {
            if (qstrcmp(argv[1], entry.name) == 0) {
                only = argv[1];
                arguments.erase(arguments.begin() + 1);
                break;
            }
        }
    }
    int failures = 0;
    for (const Entry &entry : registry()) {
        if (!only.isEmpty() && only != entry.name)
            continue;
        std::unique_ptr<QObject> test(entry.factory());
        failures += QTest::qExec(test.get(), static_cast<int>(arguments.size()), arguments.data());
    }
    return failures == 0 ? 0 : 1;
}

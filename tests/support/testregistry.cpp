#include "testregistry.h"

#include <QTest>

#include <algorithm>
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
    // "tst_engine Shell32Test [qtest arguments]" runs one class only.
    QByteArray only;
    std::vector<char *> arguments(argv, argv + argc);
    if (argc > 1 && argv[1][0] != '-') {
        only = argv[1];
        const bool known = std::any_of(registry().begin(), registry().end(),
                                       [&](const Entry &entry) { return only == entry.name; });
        // CTest names each class: a misspelt or vanished one must fail, not run them all.
        if (!known) {
            QByteArray names;
            for (const Entry &entry : registry())
                names += QByteArray(" ") + entry.name;
            qWarning("no test class %s here; the classes are:%s", only.constData(), names.constData());
            return 2;
        }
        arguments.erase(arguments.begin() + 1);
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

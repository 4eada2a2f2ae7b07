#pragma once

#include <QObject>

#include <functional>

// Lets each test class live in its own file while one executable per area
// runs them all: a class registers itself, main() runs every registered one.
using TestFactory = std::function<QObject *()>;
bool RegisterTestClass(const char *name, TestFactory factory);
// Runs every registered class, or only the one named by the first argument
// (an argument that is no option and names no class is an error).
int RunRegisteredTests(int argc, char *argv[]);

// `labels` are the class's CTest labels, words apart: `unit`, or what it
// needs of `ghostscript` and `x11`. tests/CMakeLists.txt reads them from this
// line, which must stay one line; C++ ignores them.
#define PELLUCOR_REGISTER_TEST(Class, labels) \
    static const bool Class##Registered = RegisterTestClass(#Class, [] { return new Class; });

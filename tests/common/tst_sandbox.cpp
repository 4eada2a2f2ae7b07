#include "support/testfiles.h"
#include "support/testregistry.h"

#include "common/sandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

enum Attempt { ReadHomeFile, StartProgram, ConnectToListener, WriteOwnFolder };

// Runs one attempt in a forked child, inside `sandbox` when given; true when
// the attempt got through. Only system calls between fork and exit.
bool AttemptGetsThrough(Attempt attempt, const Sandbox *sandbox, const QByteArray &file, int port)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (sandbox && !sandbox->apply())
            ::_exit(3);
        switch (attempt) {
        case ReadHomeFile:
            ::_exit(::open(file.constData(), O_RDONLY) >= 0 ? 1 : 0);
        case WriteOwnFolder:
            ::_exit(::open(file.constData(), O_WRONLY | O_CREAT, 0600) >= 0 ? 1 : 0);
        case StartProgram: {
            char *const arguments[] = {const_cast<char *>("/bin/false"), nullptr};
            ::execv("/bin/false", arguments); // exits 1 when it runs
            ::_exit(0);
        }
        case ConnectToListener: {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(std::uint16_t(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::_exit(fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 ? 1 : 0);
        }
        }
        ::_exit(2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

} // namespace

class SandboxTest : public QObject
{
    Q_OBJECT

private slots:
    void confinesWhatRunsInIt_data()
    {
        QTest::addColumn<int>("attempt");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("reading a file in the home folder") << int(ReadHomeFile) << false;
        QTest::newRow("starting a program") << int(StartProgram) << false;
        QTest::newRow("connecting to a listener") << int(ConnectToListener) << false;
        QTest::newRow("writing in its own folder") << int(WriteOwnFolder) << true;
    }
    void confinesWhatRunsInIt()
    {
        QFETCH(int, attempt);
        QFETCH(bool, allowed);
        if (!Sandbox::missing().empty())
            QSKIP("this kernel cannot confine fully");
        QTemporaryDir home;
        WriteBytes(home.filePath("secret.txt"), "secret");
        QDir().mkpath(home.filePath("own"));
        const QByteArray file = QFile::encodeName(home.filePath(attempt == WriteOwnFolder ? "own/new.txt" : "secret.txt"));
        LoopbackListener listener;
        Sandbox::Rules rules;
        rules.readable = Sandbox::systemReadable();
        rules.writable = {QFile::encodeName(home.filePath("own")).toStdString()};
        const Sandbox sandbox(rules);

        // Outside the sandbox every attempt gets through: the probe itself works.
        QVERIFY(AttemptGetsThrough(Attempt(attempt), nullptr, file, listener.port()));
        QVERIFY(listener.connectionWaiting() == (attempt == ConnectToListener));
        QFile::remove(home.filePath("own/new.txt"));

        QCOMPARE(AttemptGetsThrough(Attempt(attempt), &sandbox, file, listener.port()), allowed);
        QVERIFY(!listener.connectionWaiting());
    }
};

PELLUCOR_REGISTER_TEST(SandboxTest)
#include "tst_sandbox.moc"

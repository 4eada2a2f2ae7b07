#include "support/testfiles.h"
#include "support/testregistry.h"

#include "sandbox/sandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "support/hostilecorpus.h"

#include <QProcess>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

enum Attempt {
    ReadHomeFile,
    StartProgram,
    ConnectToListener,
    WriteOwnFolder,
    SignalOutsider,
    SignalOwnGroup,
    SignalThroughDescriptor,
    LeaveSession,
    OpenPidfdOfOutsider,
    MakeSharedMemory,
    MakeMemoryFile,
    MakeProcess
};

// Runs one attempt in a forked child, inside `sandbox` when given; true when
// the attempt got through. Only system calls between fork and exit.
bool AttemptGetsThrough(Attempt attempt, const Sandbox *sandbox, const QByteArray &file, int port)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (sandbox && !sandbox->apply())
            ::_exit(3);
        switch (attempt) {
        case ReadHomeFile: ::_exit(::open(file.constData(), O_RDONLY) >= 0 ? 1 : 0);
        case WriteOwnFolder: ::_exit(::open(file.constData(), O_WRONLY | O_CREAT, 0600) >= 0 ? 1 : 0);
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
        case SignalOutsider: ::_exit(::kill(::getppid(), 0) == 0 ? 1 : 0);
        case SignalOwnGroup: ::_exit(::kill(0, 0) == 0 ? 1 : 0);
        case SignalThroughDescriptor: {
            int ends[2];
            ::_exit(::pipe(ends) == 0 && ::fcntl(ends[0], F_SETOWN, ::getppid()) == 0 ? 1 : 0);
        }
        case LeaveSession: ::_exit(::setsid() >= 0 ? 1 : 0);
        case OpenPidfdOfOutsider: ::_exit(::syscall(SYS_pidfd_open, ::getppid(), 0) >= 0 ? 1 : 0);
        case MakeSharedMemory: {
            const int segment = ::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
            if (segment >= 0)
                ::shmctl(segment, IPC_RMID, nullptr);
            ::_exit(segment >= 0 ? 1 : 0);
        }
        case MakeMemoryFile: { // 300 MB that is not address space
            const int memory = ::memfd_create("memory", 0);
            ::_exit(memory >= 0 && ::fallocate(memory, 0, 0, 300 << 20) == 0 ? 1 : 0);
        }
        case MakeProcess: {
            const pid_t grandchild = ::fork();
            if (grandchild == 0)
                ::_exit(0);
            ::_exit(grandchild > 0 ? 1 : 0);
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
        QTest::addColumn<QByteArray>("landlockAbi");
        QTest::newRow("reading a file in the home folder") << int(ReadHomeFile) << false << QByteArray();
        QTest::newRow("starting a program") << int(StartProgram) << false << QByteArray();
        QTest::newRow("connecting to a listener") << int(ConnectToListener) << false << QByteArray();
        QTest::newRow("writing in its own folder") << int(WriteOwnFolder) << true << QByteArray();
        // Before Landlock's scopes (version 6) the system-call filter holds alone.
        QTest::newRow("signalling a process outside") << int(SignalOutsider) << false << QByteArray("5");
        // Its own group may hold whatever reaps it, and a group or session of its own lets it escape its reaper.
        QTest::newRow("signalling its own group") << int(SignalOwnGroup) << false << QByteArray("5");
        QTest::newRow("signalling through a descriptor's owner")
            << int(SignalThroughDescriptor) << false << QByteArray("5");
        QTest::newRow("leaving its session") << int(LeaveSession) << false << QByteArray("5");
        QTest::newRow("a pidfd of a process outside") << int(OpenPidfdOfOutsider) << false << QByteArray("5");
        QTest::newRow("System V memory, which outlives it") << int(MakeSharedMemory) << false << QByteArray();
        QTest::newRow("a memory file past its memory limit") << int(MakeMemoryFile) << false << QByteArray();
        QTest::newRow("a process where no program may start") << int(MakeProcess) << false << QByteArray();
    }
    void confinesWhatRunsInIt()
    {
        QFETCH(int, attempt);
        QFETCH(bool, allowed);
        QFETCH(QByteArray, landlockAbi);
        if (!KernelConfinesFiles())
            QSKIP("this kernel cannot confine fully");
        const EnvironmentScope environment{{"PELLUCOR_LANDLOCK_ABI", landlockAbi}};
        QTemporaryDir home;
        WriteBytes(home.filePath("secret.txt"), "secret");
        QDir().mkpath(home.filePath("own"));
        const QByteArray file = QFile::encodeName(home.filePath(attempt == WriteOwnFolder ? "own/new.txt"
                                                                                          : "secret.txt"));
        LoopbackListener listener;
        Sandbox::Rules rules;
        rules.readable = Sandbox::systemReadable();
        rules.writable = {QFile::encodeName(home.filePath("own")).toStdString()};
        rules.memoryBytes = 100 << 20;
        const Sandbox sandbox(rules);

        // Outside the sandbox every attempt gets through: the probe itself works.
        QVERIFY(AttemptGetsThrough(Attempt(attempt), nullptr, file, listener.port()));
        QVERIFY(listener.connectionWaiting() == (attempt == ConnectToListener));
        QFile::remove(home.filePath("own/new.txt"));

        QCOMPARE(AttemptGetsThrough(Attempt(attempt), &sandbox, file, listener.port()), allowed);
        QVERIFY(!listener.connectionWaiting());
    }

    // Rules are made once for many processes: a folder replaced meanwhile by
    // a link to the user's files keeps the rule of what it was, and a path
    // added for one process is its alone.
    void rulesHoldWhatThePathsWereWhenMade()
    {
        if (!KernelConfinesFiles())
            QSKIP("this kernel cannot confine fully");
        QTemporaryDir home;
        WriteBytes(home.filePath("secret.txt"), "secret");
        QDir().mkpath(home.filePath("fonts"));
        Sandbox::Rules rules;
        rules.readable = Sandbox::systemReadable();
        rules.readable.push_back(QFile::encodeName(home.filePath("fonts")).toStdString());
        Sandbox sandbox(rules);
        QVERIFY(QDir().rename(home.filePath("fonts"), home.filePath("old fonts")));
        QVERIFY(QFile::link(home.path(), home.filePath("fonts")));
        const QByteArray secret = QFile::encodeName(home.filePath("secret.txt"));
        QVERIFY(!AttemptGetsThrough(ReadHomeFile, &sandbox, QFile::encodeName(home.filePath("fonts/secret.txt")), 0));
        QVERIFY(!AttemptGetsThrough(ReadHomeFile, &sandbox, secret, 0));
        sandbox.addReadable(secret.toStdString());
        QVERIFY(AttemptGetsThrough(ReadHomeFile, &sandbox, secret, 0));
    }

    // Out of descriptors, the rules cannot be made: what would run in the
    // sandbox is refused, by the sandbox itself and by pellucor-sandbox.
    void aSandboxThatCannotBeMadeIsRefused()
    {
        if (!KernelConfinesFiles())
            QSKIP("this kernel cannot confine fully");
        QTemporaryDir home;
        Sandbox::Rules rules;
        rules.readable = Sandbox::systemReadable();
        rules.writable = {QFile::encodeName(home.path()).toStdString()};
        rlimit before{};
        ::getrlimit(RLIMIT_NOFILE, &before);
        const rlimit none{3, before.rlim_max}; // no descriptor beyond the standard ones
        ::setrlimit(RLIMIT_NOFILE, &none);
        const Sandbox starved(rules);
        ::setrlimit(RLIMIT_NOFILE, &before);
        QVERIFY(!starved.failure().empty());
        QVERIFY(!AttemptGetsThrough(WriteOwnFolder, &starved, QFile::encodeName(home.filePath("new.txt")), 0));
        QVERIFY(!QFileInfo::exists(home.filePath("new.txt")));

        QProcess helper;
        helper.setChildProcessModifier([] {
            // Room for the loader's one descriptor at a time, and for the rules' first.
            ::syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
            const rlimit few{4, 4};
            ::setrlimit(RLIMIT_NOFILE, &few);
        });
        helper.start(PELLUCOR_APP_DIR "/pellucor-sandbox",
                     {"--read=/usr", "--write=" + home.path(), "--exec=/bin/sh", "--", "/bin/sh", "-c",
                      "echo ran > " + home.filePath("ran.txt")});
        QVERIFY(helper.waitForFinished());
        QCOMPARE(helper.exitCode(), 125);
        QVERIFY2(helper.readAllStandardError().startsWith("pellucor-sandbox: "), "without a reason");
        QVERIFY(!QFileInfo::exists(home.filePath("ran.txt")));
    }
};

PELLUCOR_REGISTER_TEST(SandboxTest, unit)
#include "tst_sandbox.moc"

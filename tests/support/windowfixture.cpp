#include "windowfixture.h"

#include "support/testfiles.h"

#include "common/filesystem.h"
#include "filelist/listview.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>

QStringList Entries(const ListView &list)
{
    QStringList texts;
    for (int i = 1; i <= list.Count(); ++i)
        texts << list.Text(i);
    return texts;
}

QList<int> Fidelities(const ListView &list)
{
    QList<int> marks;
    for (int i = 1; i <= list.Count(); ++i)
        marks << int(list.Fidelity(i));
    return marks;
}

WindowFixture::WindowFixture(const std::function<void(WindowFixture &)> &prepare) : m_oldTemp(qgetenv("TEMP"))
{
    QDir().mkpath(m_root.filePath(QStringLiteral("temp")));
    qputenv("TEMP", QFile::encodeName(m_root.filePath(QStringLiteral("temp"))));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_root.filePath(QStringLiteral("config")));
    FileSystem::SetApplicationFolder(QStringLiteral(PELLUCOR_APP_DIR));
    form = std::make_unique<Form1>();
    form->SetStartUpNumberSource([] { return 1; });
    if (prepare)
        prepare(*this);
    form->Form_Load();
    form->show();
}

WindowFixture::~WindowFixture()
{
    form.reset();
    qputenv("TEMP", m_oldTemp);
    FileSystem::SetApplicationFolder(QString());
}

QString WindowFixture::input(const QString &relative, const QString &dataFile)
{
    const QString target = m_root.filePath(relative);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    if (!QFile::copy(TestDataPath(dataFile), target))
        qFatal("cannot copy %s", qPrintable(dataFile));
    return target;
}

void WindowFixture::append(const QStringList &paths)
{
    for (const QString &path : paths)
        form->ListView1->Append(path);
}

void WindowFixture::prepareRun(const QStringList &inputs, const QString &outputFolder)
{
    append(inputs);
    form->Text1->setText(outputFolder);
}

void WindowFixture::start()
{
    QTest::mouseClick(form->PushButton2, Qt::LeftButton);
}

#include "settingsstore.h"

#include "common/platform.h"
#include "common/runtimeerror.h"
#include "pathhelpers.h"

#include <QRegularExpression>
#include <QSettings>

#include <cmath>
#include <memory>

namespace SettingsStore {

namespace {

std::unique_ptr<QSettings> OpenStore()
{
    std::unique_ptr<QSettings> store = Platform::OpenSettings();
    store->beginGroup(QStringLiteral("Pellucor"));
    return store;
}

} // namespace

QString DefaultOf(const QString &key)
{
    if (key == OutputFolder) {
        QString scratch;
        return GetDesktopFolder(scratch);
    }
    if (key == JPGQuality)
        return QStringLiteral("75");
    if (key == Option1)
        return QStringLiteral("1");
    if (key == Option2)
        return QStringLiteral("0");
    if (key == Extension)
        return QStringLiteral("eps");
    return QString(); // "LastFolderDot", "LastFolder"
}

QString ReadSetting(const QString &key, const QVariant &defaultValue)
{
    const auto store = OpenStore();
    if (!store->contains(key))
        return defaultValue.toString();
    const QVariant value = store->value(key);
    // A hand-edited INI line with a comma reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

QString ReadSetting(const QString &key)
{
    return ReadSetting(key, DefaultOf(key));
}

void WriteSetting(const QString &key, const QString &value)
{
    const auto store = OpenStore();
    store->setValue(key, value);
    store->sync();
}

bool ToBoolean(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = trimmed.toDouble(&isNumber);
    if (!isNumber)
        throw RuntimeError(RuntimeError::TypeMismatch,
                           QStringLiteral("Type mismatch: \"%1\" is neither True, False nor a number").arg(text),
                           QStringLiteral("SettingsStore"));
    return number != 0;
}

QString FromBoolean(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

int ToQuality(const QString &text)
{
    static const QRegularExpression leadingNumber(QStringLiteral(R"(^\s*([+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?))"));
    const QRegularExpressionMatch match = leadingNumber.match(text);
    if (!match.hasMatch())
        return 0;
    const double value = match.captured(1).toDouble();
    if (!std::isfinite(value) || std::fabs(value) > 1e9)
        return value < 0 ? -1000000000 : 1000000000;
    return static_cast<int>(std::nearbyint(value));
}

} // namespace SettingsStore

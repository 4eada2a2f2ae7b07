#pragma once

#include <QString>
#include <QVariant>

// The user's choices kept between runs: seven texts under application
// "Veltranix", group "Pellucor" (an INI file in the user's configuration
// folder on Linux, the registry on Windows). Every key and its default
// live here and nowhere else.
namespace SettingsStore {

inline const QString OutputFolder = QStringLiteral("Output Folder");
inline const QString JPGQuality = QStringLiteral("JPGQuality");
inline const QString Option1 = QStringLiteral("Option1");
inline const QString Option2 = QStringLiteral("Option2");
inline const QString LastFolderDot = QStringLiteral("LastFolderDot");
inline const QString LastFolder = QStringLiteral("LastFolder");
inline const QString Extension = QStringLiteral("Extension");

// The default of a key, as text. For "Output Folder" that is the desktop
// folder with a trailing separator; error 5 when there is none.
QString DefaultOf(const QString &key);

// The stored text when the key exists (also when it is empty), otherwise
// `defaultValue` as text. Reading never creates a key.
QString ReadSetting(const QString &key, const QVariant &defaultValue);
// The same with the key's own default.
QString ReadSetting(const QString &key);

// Creates or replaces the key; the write reaches the disk at once.
void WriteSetting(const QString &key, const QString &value);

// "True"/"False" in any case, or a number (0 is false). Anything else is a
// type mismatch (error 13).
bool ToBoolean(const QString &text);
QString FromBoolean(bool value);

// The leading number of the text (0 when there is none), rounded to an
// integer with halves going to the even neighbour.
int ToQuality(const QString &text);

} // namespace SettingsStore

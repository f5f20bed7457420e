#include "config/IniFile.h"

#include <QFile>
#include <QSettings>

namespace {

std::optional<std::string> IniText(const QSettings& ini, const char* key) {
  const QString name = QString::fromLatin1(key);
  if (!ini.contains(name)) return std::nullopt;
  return ini.value(name).toString().toStdString();
}

}  // namespace

IniValues ReadIniValues(const QString& iniPath) {
  QSettings ini(iniPath, QSettings::IniFormat);
  ini.beginGroup(QString::fromLatin1(kIniSection));
  IniValues values;
  for (const IniKey& key : IniKeys()) values.*key.Value = IniText(ini, key.Name);
  return values;
}

PortValues ReadPortValues(const QString& iniPath) {
  QSettings ini(iniPath, QSettings::IniFormat);
  ini.beginGroup(QStringLiteral("Porty"));
  PortValues values;
  for (int i = 0; i < kPortCount; ++i) {
    const QString key = QStringLiteral("COM%1").arg(i + 1);
    if (ini.contains(key)) values[i] = QFile::encodeName(ini.value(key).toString()).toStdString();
  }
  return values;
}

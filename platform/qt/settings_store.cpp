#include "platform/qt/settings_store.h"

#include <QByteArray>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace platform::qt {

CRegistryAccess::CRegistryAccess()
    : m_settings(
          std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "Halvane", "Tovrin")) {}

CRegistryAccess::CRegistryAccess(QString iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

CRegistryAccess::~CRegistryAccess() { m_settings->sync(); }

QString CRegistryAccess::FileName() const { return m_settings->fileName(); }

QString CRegistryAccess::GroupOf(std::string_view subKey) {
  QString path = QString::fromUtf8(subKey.data(), static_cast<int>(subKey.size()));
  path.replace('\\', '/');
  const QStringList parts = path.split('/', Qt::SkipEmptyParts);
  return parts.join('/');
}

QString CRegistryAccess::Key(std::string_view subKey, std::string_view name) const {
  const QString group = GroupOf(subKey);
  const QString value = QString::fromUtf8(name.data(), static_cast<int>(name.size()));
  return group.isEmpty() ? value : group + '/' + value;
}

bool CRegistryAccess::KeyExists(std::string_view subKey) const {
  const QString group = GroupOf(subKey);
  if (group.isEmpty()) return true;
  m_settings->beginGroup(group);
  const bool any = !m_settings->allKeys().isEmpty();
  m_settings->endGroup();
  return any;
}

bool CRegistryAccess::ValueExists(std::string_view subKey, std::string_view name) const {
  return m_settings->contains(Key(subKey, name));
}

bool CRegistryAccess::ReadBinaryValue(std::string_view subKey, std::string_view name,
                                      std::vector<std::uint8_t>& out) const {
  const QVariant v = m_settings->value(Key(subKey, name));
  if (!v.isValid() || v.typeId() != QMetaType::QByteArray) return false;
  const QByteArray bytes = v.toByteArray();
  out.assign(bytes.begin(), bytes.end());
  return true;
}

bool CRegistryAccess::ReadStringValue(std::string_view subKey, std::string_view name,
                                      std::string& out) const {
  const QVariant v = m_settings->value(Key(subKey, name));
  if (!v.isValid()) return false;
  // A stored text ends at its first NUL, as a registry string does.
  std::string s = v.toString().toStdString();
  if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  out = std::move(s);
  return true;
}

bool CRegistryAccess::ReadIntValue(std::string_view subKey, std::string_view name, std::int32_t& out) const {
  const QVariant v = m_settings->value(Key(subKey, name));
  if (!v.isValid()) return false;
  bool ok = false;
  const int n = v.toInt(&ok);
  if (!ok) return false;
  out = n;
  return true;
}

bool CRegistryAccess::WriteBinaryValue(std::string_view subKey, std::string_view name, const void* data,
                                       std::size_t size) {
  if ((!data && size) || name.empty()) return false;
  m_settings->setValue(Key(subKey, name),
                       QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size)));
  return Flush();
}

bool CRegistryAccess::WriteStringValue(std::string_view subKey, std::string_view name,
                                       std::string_view value) {
  if (name.empty()) return false;
  m_settings->setValue(Key(subKey, name), QString::fromUtf8(value.data(), static_cast<int>(value.size())));
  return Flush();
}

bool CRegistryAccess::WriteIntValue(std::string_view subKey, std::string_view name, std::int32_t value) {
  if (name.empty()) return false;
  m_settings->setValue(Key(subKey, name), value);
  return Flush();
}

bool CRegistryAccess::DeleteKey(std::string_view subKey) {
  const QString group = GroupOf(subKey);
  if (group.isEmpty()) return false;
  m_settings->remove(group);
  return Flush();
}

bool CRegistryAccess::DeleteValue(std::string_view subKey, std::string_view name) {
  m_settings->remove(Key(subKey, name));
  return Flush();
}

bool CRegistryAccess::Flush() {
  m_settings->sync();
  return m_settings->status() == QSettings::NoError;
}

}  // namespace platform::qt

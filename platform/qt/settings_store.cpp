#include "platform/qt/settings_store.h"

#include <QByteArray>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <cstdio>

#include "platform/files.h"

namespace platform::qt {

namespace {

// QSettings writes its file by itself too, from the event loop, after every
// change: the store writes only when the settings are saved, so those
// requests are dropped.
class TNoAutomaticSync : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::UpdateRequest; }
};

void KeepWritesForFlush(QSettings& settings) { settings.installEventFilter(new TNoAutomaticSync(&settings)); }

// The user's settings file: the configuration folder, the organisation's
// folder and the application's name, as QSettings names it.
QString DefaultSettingsFile() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Halvane/Tovrin.ini");
}

}  // namespace

CRegistryAccess::CRegistryAccess() { Open(DefaultSettingsFile()); }

CRegistryAccess::CRegistryAccess(QString iniFile) { Open(iniFile); }

CRegistryAccess::~CRegistryAccess() {
  if (m_bDirty) Flush();
}

void CRegistryAccess::Open(const QString& iniFile) {
  m_fileName = iniFile;
  const std::string path = QFile::encodeName(iniFile).toStdString();
  const QFileInfo info(iniFile);
  // Reading a FIFO would wait for a writer for ever; a device or a folder is
  // no settings file either. Nothing of it is read, nothing is written to it.
  if ((info.exists() || info.isSymLink()) && !platform::IsRegularFile(path)) {
    std::fprintf(
        stderr,
        "Tovrin: %s is not a regular file; the settings start with their defaults and are not saved.\n",
        path.c_str());
    m_bRefused = true;
    m_privateFolder = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<QSettings>(m_privateFolder->filePath(QStringLiteral("Tovrin.ini")),
                                             QSettings::IniFormat);
    KeepWritesForFlush(*m_settings);
    return;
  }
  m_settings = std::make_unique<QSettings>(iniFile, QSettings::IniFormat);
  KeepWritesForFlush(*m_settings);
  // QSettings parses its sections when they are first asked for: ask for
  // all of them now, so that a file it cannot parse is known from the start.
  (void)m_settings->allKeys();
  if (m_settings->status() == QSettings::FormatError) {
    std::fprintf(stderr,
                 "Tovrin: %s could not be read whole; it is written anew when the settings are saved.\n",
                 path.c_str());
    m_bRewrite = true;
  }
}

QString CRegistryAccess::FileName() const { return m_fileName; }

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
  m_bDirty = true;
  return true;
}

bool CRegistryAccess::WriteStringValue(std::string_view subKey, std::string_view name,
                                       std::string_view value) {
  if (name.empty()) return false;
  m_settings->setValue(Key(subKey, name), QString::fromUtf8(value.data(), static_cast<int>(value.size())));
  m_bDirty = true;
  return true;
}

bool CRegistryAccess::WriteIntValue(std::string_view subKey, std::string_view name, std::int32_t value) {
  if (name.empty()) return false;
  m_settings->setValue(Key(subKey, name), value);
  m_bDirty = true;
  return true;
}

bool CRegistryAccess::DeleteKey(std::string_view subKey) {
  const QString group = GroupOf(subKey);
  if (group.isEmpty()) return false;
  m_settings->remove(group);
  m_bDirty = true;
  return true;
}

bool CRegistryAccess::DeleteValue(std::string_view subKey, std::string_view name) {
  m_settings->remove(Key(subKey, name));
  m_bDirty = true;
  return true;
}

bool CRegistryAccess::RewriteWhole() {
  // Everything the store holds (what could be read, and the program's own
  // values) goes into a new file beside the old one, which then replaces it.
  const QString fresh = m_fileName + QStringLiteral(".new");
  QFile::remove(fresh);
  bool ok = false;
  {
    QSettings out(fresh, QSettings::IniFormat);
    for (const QString& key : m_settings->allKeys()) out.setValue(key, m_settings->value(key));
    out.sync();
    ok = out.status() == QSettings::NoError && QFileInfo::exists(fresh);
  }
  if (ok)
    ok = std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(m_fileName).constData()) == 0;
  if (!ok) {
    QFile::remove(fresh);
    return false;
  }
  // The store reads the file it wrote; its pending changes are all in it.
  auto reread = std::make_unique<QSettings>(m_fileName, QSettings::IniFormat);
  KeepWritesForFlush(*reread);
  if (reread->status() != QSettings::NoError) return false;
  // The old store may still sync as it goes: it then merges the same values
  // into the new file.
  m_settings = std::move(reread);
  m_bRewrite = false;
  return true;
}

bool CRegistryAccess::Flush() {
  if (m_bRefused) return false;
  bool ok = false;
  if (m_bRewrite) {
    ok = RewriteWhole();
  } else {
    m_settings->sync();
    ok = m_settings->status() == QSettings::NoError;
  }
  if (ok) m_bDirty = false;
  return ok;
}

}  // namespace platform::qt

#pragma once
// The user's settings store: a tree of keys with named values, kept in one
// INI file of the user's configuration folder (organisation "Halvane",
// application "Tovrin"). Key paths are written with "\" as on the stored
// names ("Software\Halvane\Configuration Settings\"); they become nested
// groups of the file. Binary values are stored byte for byte.
//
// Writes are kept in memory and reach the file once, at Flush() (or when
// the store goes): the program saves its settings in one write, and judges
// that write by its own result. A file that could not be parsed (a line
// without "=", a cut or garbage file) keeps what could be read and is
// rewritten whole at the next Flush(), with everything the program holds.
// A name that is not a regular file (a FIFO, a device, a folder) is never
// opened: the store starts empty, the program runs on its defaults and
// Flush() reports that nothing could be saved there.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QSettings;
class QTemporaryDir;

namespace platform::qt {

class CRegistryAccess {
 public:
  // The default store of the running application.
  CRegistryAccess();
  // A store in the given INI file (tests, tools).
  explicit CRegistryAccess(QString iniFile);
  ~CRegistryAccess();
  CRegistryAccess(const CRegistryAccess&) = delete;
  CRegistryAccess& operator=(const CRegistryAccess&) = delete;

  // Where the store lives.
  QString FileName() const;

  // The file is not a regular file: it is neither read nor written.
  bool Refused() const { return m_bRefused; }
  // The file could not be parsed; it is rewritten whole at the next Flush().
  bool RewritePending() const { return m_bRewrite; }

  bool KeyExists(std::string_view subKey) const;
  bool ValueExists(std::string_view subKey, std::string_view name) const;

  // False when the value is missing or cannot be read.
  bool ReadBinaryValue(std::string_view subKey, std::string_view name, std::vector<std::uint8_t>& out) const;
  bool ReadStringValue(std::string_view subKey, std::string_view name, std::string& out) const;
  bool ReadIntValue(std::string_view subKey, std::string_view name, std::int32_t& out) const;

  // Creates the key when missing; the value reaches the file at Flush().
  // False when the value has no name (or no data for its size).
  bool WriteBinaryValue(std::string_view subKey, std::string_view name, const void* data, std::size_t size);
  bool WriteStringValue(std::string_view subKey, std::string_view name, std::string_view value);
  bool WriteIntValue(std::string_view subKey, std::string_view name, std::int32_t value);

  // Removes a key with everything below it.
  bool DeleteKey(std::string_view subKey);
  bool DeleteValue(std::string_view subKey, std::string_view name);

  // Writes pending changes to the file (the whole file when it could not be
  // parsed); false when that write failed or the file is refused.
  bool Flush();

  // The group path of a stored key path ("a\b\" -> "a/b").
  static QString GroupOf(std::string_view subKey);

 private:
  QString Key(std::string_view subKey, std::string_view name) const;
  void Open(const QString& iniFile);
  bool RewriteWhole();

  QString m_fileName;
  std::unique_ptr<QSettings> m_settings;
  // The in-memory store of a refused file lives in a private folder.
  std::unique_ptr<QTemporaryDir> m_privateFolder;
  bool m_bRefused = false;
  bool m_bRewrite = false;
  bool m_bDirty = false;
};

}  // namespace platform::qt

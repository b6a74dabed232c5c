#pragma once
// The user's settings store: a tree of keys with named values, kept in one
// INI file of the user's configuration folder (organisation "Halvane",
// application "Tovrin"). Key paths are written with "\" as on the stored
// names ("Software\Halvane\Configuration Settings\"); they become nested
// groups of the file. Binary values are stored byte for byte.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QSettings;

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

  bool KeyExists(std::string_view subKey) const;
  bool ValueExists(std::string_view subKey, std::string_view name) const;

  // False when the value is missing or cannot be read.
  bool ReadBinaryValue(std::string_view subKey, std::string_view name, std::vector<std::uint8_t>& out) const;
  bool ReadStringValue(std::string_view subKey, std::string_view name, std::string& out) const;
  bool ReadIntValue(std::string_view subKey, std::string_view name, std::int32_t& out) const;

  // Creates the key when missing. False when the store cannot be written or
  // the value has no name.
  bool WriteBinaryValue(std::string_view subKey, std::string_view name, const void* data, std::size_t size);
  bool WriteStringValue(std::string_view subKey, std::string_view name, std::string_view value);
  bool WriteIntValue(std::string_view subKey, std::string_view name, std::int32_t value);

  // Removes a key with everything below it.
  bool DeleteKey(std::string_view subKey);
  bool DeleteValue(std::string_view subKey, std::string_view name);

  // Writes pending changes to the file; false when that failed.
  bool Flush();

  // The group path of a stored key path ("a\b\" -> "a/b").
  static QString GroupOf(std::string_view subKey);

 private:
  QString Key(std::string_view subKey, std::string_view name) const;
  std::unique_ptr<QSettings> m_settings;
};

}  // namespace platform::qt

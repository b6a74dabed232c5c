#include "platform/text.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>

#include "platform/files.h"

#include <fstream>
#include <system_error>

#include <unistd.h>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence starting at s[i]; advances i.
char32_t NextUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
    min = 0x10000;
  } else
    return kReplacement;
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size()) return kReplacement;
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

template <class Unit>
std::string DecodeUnits(std::size_t count, Unit unitAt) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    char32_t u = unitAt(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < count) {
        char32_t lo = unitAt(i + 1);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
          ++i;
          continue;
        }
      }
      u = kReplacement;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      u = kReplacement;
    }
    AppendUtf8(out, u);
  }
  return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = NextUtf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  return DecodeUnits(utf16.size(), [&](std::size_t i) { return char32_t(utf16[i]); });
}

std::vector<std::uint8_t> EncodeUtf16Le(std::string_view utf8, bool withBom) {
  const std::u16string units = Utf8ToUtf16(utf8);
  std::vector<std::uint8_t> out;
  out.reserve(units.size() * 2 + 2);
  if (withBom) {
    out.push_back(0xFF);
    out.push_back(0xFE);
  }
  for (char16_t u : units) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

std::string DecodeUtf16Le(const std::uint8_t* data, std::size_t size) {
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
    data += 2;
    size -= 2;
  }
  return DecodeUnits(size / 2, [&](std::size_t i) { return char32_t(data[2 * i] | (data[2 * i + 1] << 8)); });
}

TextEncoding DetectTextEncoding(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return TextEncoding::Empty;
  if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) return TextEncoding::Utf16LeBom;
  if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) return TextEncoding::Utf16BeBom;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) return TextEncoding::Utf8Bom;
  // Without a mark: text in UTF-16LE has a zero high byte for every ASCII
  // character, so most odd bytes are zero and even bytes are not.
  const std::size_t pairs = std::min<std::size_t>(size / 2, 512);
  if (pairs == 0) return TextEncoding::EightBit;
  std::size_t oddZero = 0, evenZero = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    if (data[2 * i] == 0) ++evenZero;
    if (data[2 * i + 1] == 0) ++oddZero;
  }
  if (oddZero * 2 > pairs && evenZero * 4 < pairs) return TextEncoding::Utf16Le;
  return TextEncoding::EightBit;
}

bool ReadFileBytes(const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
  // Only a regular file: a FIFO would block the open, and a folder opens
  // but has no length.
  const int fd = OpenRegularFileForRead(path.string());
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && st.st_size >= 0;
  if (ok) {
    try {
      out.resize(static_cast<std::size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  std::size_t done = 0;
  while (ok && done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;  // an error, or the file shrank while it was read
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return ok;
}

bool WriteFileBytes(const std::filesystem::path& path, const void* data, std::size_t size) {
  std::filesystem::path tmp = path;
  tmp += ".part" + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    if (size) out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.flush();
    if (!out) {
      out.close();
      std::error_code ec;
      std::filesystem::remove(tmp, ec);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
}

bool WriteUtf16Le(std::FILE* stream, std::string_view utf8) {
  if (!stream) return false;
  const std::vector<std::uint8_t> bytes = EncodeUtf16Le(utf8);
  if (bytes.empty()) return true;
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace platform

#pragma once
// Text encodings at the program's edges. Inside, all text is UTF-8
// std::string; files that the program shares with other tools in UTF-16LE
// (start parameter files, the capture log) are converted here.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class TextEncoding {
  Empty,       // no bytes
  Utf16Le,     // UTF-16LE without a byte-order mark (detected by its zero bytes)
  Utf16LeBom,  // UTF-16LE with FF FE
  Utf16BeBom,  // UTF-16BE with FE FF
  Utf8Bom,     // EF BB BF
  EightBit,    // anything else: UTF-8 or a legacy 8-bit code page
};

// Converts; invalid sequences become U+FFFD, never a failure.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// UTF-16LE bytes of a UTF-8 text, optionally led by the byte-order mark.
std::vector<std::uint8_t> EncodeUtf16Le(std::string_view utf8, bool withBom = false);

// Decodes UTF-16LE bytes (a leading byte-order mark is skipped; a dangling
// odd byte at the end is dropped) into UTF-8.
std::string DecodeUtf16Le(const std::uint8_t* data, std::size_t size);

// Guesses the encoding of a text file's first bytes.
TextEncoding DetectTextEncoding(const std::uint8_t* data, std::size_t size);

// Reads a whole file; false when it cannot be opened or read.
bool ReadFileBytes(const std::filesystem::path& path, std::vector<std::uint8_t>& out);

// Writes a whole file atomically (temporary file then rename): on failure the
// old file, if any, is untouched and no partial file is left.
bool WriteFileBytes(const std::filesystem::path& path, const void* data, std::size_t size);

// Appends a UTF-8 text to a stream as UTF-16LE; true when every byte was written.
bool WriteUtf16Le(std::FILE* stream, std::string_view utf8);

// Case-insensitive comparison of ASCII letters (other bytes compared as is).
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view s);

}  // namespace platform

#pragma once
// Little-endian serialisation, field by field, for every byte that reaches a
// file or the network. Readers are bounds-checked: reading past the end sets
// a sticky failure and yields zeros.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace platform {

inline void StoreLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void StoreLE64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t LoadLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadLE32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline std::uint64_t LoadLE64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

class TByteWriter {
 public:
  explicit TByteWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
  void U8(std::uint8_t v) { m_out.push_back(v); }
  void U16(std::uint16_t v) {
    Grow(2, [&](std::uint8_t* p) { StoreLE16(p, v); });
  }
  void U32(std::uint32_t v) {
    Grow(4, [&](std::uint8_t* p) { StoreLE32(p, v); });
  }
  void U64(std::uint64_t v) {
    Grow(8, [&](std::uint8_t* p) { StoreLE64(p, v); });
  }
  void I16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void I64(std::int64_t v) { U64(static_cast<std::uint64_t>(v)); }
  void F64(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    U64(bits);
  }
  void Bytes(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    m_out.insert(m_out.end(), p, p + n);
  }
  void Zeros(std::size_t n) { m_out.insert(m_out.end(), n, 0); }
  // Overwrites a 32-bit field already written at offset (for sizes known late).
  void PatchU32(std::size_t offset, std::uint32_t v) { StoreLE32(m_out.data() + offset, v); }
  std::size_t Size() const { return m_out.size(); }

 private:
  template <class F>
  void Grow(std::size_t n, F store) {
    const std::size_t at = m_out.size();
    m_out.resize(at + n);
    store(m_out.data() + at);
  }
  std::vector<std::uint8_t>& m_out;
};

class TByteReader {
 public:
  TByteReader(const void* data, std::size_t size)
      : m_data(static_cast<const std::uint8_t*>(data)), m_size(size) {}
  std::uint8_t U8() {
    const std::uint8_t* p = Take(1);
    return p ? p[0] : 0;
  }
  std::uint16_t U16() {
    const std::uint8_t* p = Take(2);
    return p ? LoadLE16(p) : 0;
  }
  std::uint32_t U32() {
    const std::uint8_t* p = Take(4);
    return p ? LoadLE32(p) : 0;
  }
  std::uint64_t U64() {
    const std::uint8_t* p = Take(8);
    return p ? LoadLE64(p) : 0;
  }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  std::int64_t I64() { return static_cast<std::int64_t>(U64()); }
  double F64() {
    std::uint64_t bits = U64();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  bool Bytes(void* out, std::size_t n) {
    const std::uint8_t* p = Take(n);
    if (!p) return false;
    if (n) std::memcpy(out, p, n);
    return true;
  }
  bool Skip(std::size_t n) { return Take(n) != nullptr; }
  bool Seek(std::size_t pos) {
    if (pos > m_size) {
      m_ok = false;
      return false;
    }
    m_pos = pos;
    return true;
  }
  std::size_t Position() const { return m_pos; }
  std::size_t Remaining() const { return m_size - m_pos; }
  bool Ok() const { return m_ok; }

 private:
  const std::uint8_t* Take(std::size_t n) {
    if (!m_ok || n > m_size - m_pos) {
      m_ok = false;
      return nullptr;
    }
    const std::uint8_t* p = m_data + m_pos;
    m_pos += n;
    return p;
  }
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
  bool m_ok = true;
};

}  // namespace platform

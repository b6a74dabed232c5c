// Feeds arbitrary bytes to the media-type conversions of capture streams:
// the first 208 bytes as a saved format record (read back into media types
// with format blocks of every size), the rest as the description of caps
// (structures with fields of ints, ranges, fractions, format names, lists)
// turned into a media type, its record and its caps again. Nothing may crash, read
// or write past a format block, or lose the round trip of a record it took.

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "io/dshow/media_type.h"

using DShowMgr::TMediaType;
using ZarnTypes::TMediaFormatRecord;

namespace {

void CheckRecord(const TMediaFormatRecord& record, std::size_t blockSize) {
  TMediaType type;
  type.format.assign(blockSize, 0xA5);
  if (!DShowMgr::RecordToMediaType(record, &type)) return;
  if (type.format.size() != blockSize) __builtin_trap();  // the block keeps its size
  TMediaFormatRecord back;
  if (DShowMgr::MediaTypeToRecord(type, &back)) {
    // The fixed fields survive the way there and back.
    if (back.majortype != record.majortype || back.subtype != record.subtype) __builtin_trap();
  }
  (void)DShowMgr::GuidToString(type.formattype);
}

// Reads the bytes of the input in order; zeros once they run out.
class TBytes {
 public:
  TBytes(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  std::uint8_t U8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  std::int32_t I32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{U8()} << (8 * i);
    return static_cast<std::int32_t>(v);
  }
  bool Left() const { return m_pos < m_size; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

template <std::size_t N>
const char* Pick(TBytes& in, const char* const (&names)[N]) {
  return names[in.U8() % N];
}

// A value of a kind the bytes choose, as devices and decoders offer them.
// Lists hold plain values, arrays fixed ones: GStreamer's own fixation
// leaks nested choices, which devices do not offer.
void MakeValue(TBytes& in, GValue* value, int depth, bool fixedOnly = false, int itemKind = -1) {
  static const char* const kFormats[] = {"I420",  "YV12",  "NV12",  "YUY2",  "UYVY",  "YVYU",  "Y41P",
                                         "BGR",   "BGRx",  "VUYA",  "RGB",   "S16LE", "S8",    "U8",
                                         "S24LE", "S32LE", "F32LE", "F64LE", "S16BE", "GRAY8", ""};
  static const int kFixedKinds[] = {0, 2, 4, 5, 6};
  int kind = itemKind >= 0 ? itemKind : in.U8() % (depth < 1 ? 9 : 7);
  if (fixedOnly) kind = kFixedKinds[static_cast<std::size_t>(kind) % 5];
  switch (kind) {
    case 0:
      g_value_init(value, G_TYPE_INT);
      g_value_set_int(value, in.I32());
      break;
    case 1:
      g_value_init(value, GST_TYPE_INT_RANGE);
      gst_value_set_int_range_step(value, in.I32() & 0xFFFF, 0x10000 + (in.I32() & 0xFFFF),
                                   1 + (in.U8() & 7));
      break;
    case 2:
      g_value_init(value, GST_TYPE_FRACTION);
      gst_value_set_fraction(value, in.I32(), in.I32() | 1);
      break;
    case 3:
      g_value_init(value, GST_TYPE_FRACTION_RANGE);
      gst_value_set_fraction_range_full(value, in.I32() & 0xFFF, 1 + (in.U8() & 0x7F),
                                        0x1000 + (in.I32() & 0xFFF), 1 + (in.U8() & 0x7F));
      break;
    case 4:
      g_value_init(value, G_TYPE_STRING);
      g_value_set_string(value, Pick(in, kFormats));
      break;
    case 5:
      g_value_init(value, G_TYPE_BOOLEAN);
      g_value_set_boolean(value, in.U8() & 1);
      break;
    case 6:
      g_value_init(value, G_TYPE_DOUBLE);
      g_value_set_double(value, static_cast<double>(in.I32()) / 7.0);
      break;
    default: {
      // A list of the values a field may take ({ ... } or < ... >).
      const bool list = in.U8() & 1;
      g_value_init(value, list ? GST_TYPE_LIST : GST_TYPE_ARRAY);
      // One to four items of one kind, as a device lists them.
      const int count = 1 + in.U8() % 4;
      const int itemsKind = in.U8() % 7;
      for (int i = 0; i < count; ++i) {
        GValue item = G_VALUE_INIT;
        MakeValue(in, &item, depth + 1, !list, itemsKind);
        if (GST_VALUE_HOLDS_LIST(value))
          gst_value_list_append_and_take_value(value, &item);
        else
          gst_value_array_append_and_take_value(value, &item);
      }
      break;
    }
  }
}

GstCaps* MakeCaps(TBytes& in) {
  static const char* const kNames[] = {"video/x-raw", "audio/x-raw", "video/x-dv", "image/jpeg",
                                       "video/x-h264"};
  static const char* const kFields[] = {
      "format",         "width",        "height",        "framerate",
      "rate",           "channels",     "layout",        "pixel-aspect-ratio",
      "interlace-mode", "channel-mask", "max-framerate", "colorimetry"};
  GstCaps* caps = gst_caps_new_empty();
  const int structures = 1 + in.U8() % 3;
  for (int s = 0; s < structures && in.Left(); ++s) {
    GstStructure* structure = gst_structure_new_empty(Pick(in, kNames));
    const int fields = in.U8() % 8;
    for (int f = 0; f < fields; ++f) {
      const char* name = Pick(in, kFields);
      if (gst_structure_has_field(structure, name)) continue;
      GValue value = G_VALUE_INIT;
      MakeValue(in, &value, 0);
      gst_structure_take_value(structure, name, &value);
    }
    gst_caps_append_structure(caps, structure);
  }
  return caps;
}

void CheckCaps(const std::uint8_t* data, std::size_t size) {
  TBytes in(data, size);
  GstCaps* caps = MakeCaps(in);
  TMediaType type;
  if (DShowMgr::CapsToMediaType(caps, &type)) {
    TMediaFormatRecord record;
    if (DShowMgr::MediaTypeToRecord(type, &record)) CheckRecord(record, type.format.size());
    if (GstCaps* again = DShowMgr::MediaTypeToCaps(type)) gst_caps_unref(again);
    TMediaType found;
    (void)DShowMgr::FindStreamCaps(caps, type, &found);
    (void)DShowMgr::FindStreamCapsBySubtype(caps, &found, type.subtype);
  }
  gst_caps_unref(caps);
}

}  // namespace

// glib keeps what its library constructor and gst_init set up for the
// life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\nleak:gst_init\n"; }

// glib and GStreamer are built without frame pointers: only the slow
// unwinder sees through them to the caller a suppression names.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_support::SilenceMessages();
  gst_init(nullptr, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kRecord = sizeof(TMediaFormatRecord);
  if (size >= kRecord) {
    TMediaFormatRecord record;
    std::memcpy(&record, data, kRecord);
    // Blocks of no size, too short, as long as the largest structure, longer.
    for (std::size_t block : {std::size_t{0}, std::size_t{17}, std::size_t{88}, std::size_t{112},
                              std::size_t{136}, std::size_t{300}})
      CheckRecord(record, block);
    data += kRecord;
    size -= kRecord;
  }
  // The rest describes caps: structures, their fields and values.
  if (size > 0) CheckCaps(data, size);
  return 0;
}

#include "shell/prog_cfg.h"

#include <cstring>

#include "platform/byte_order.h"

namespace shell {
namespace {

using platform::LoadLE32;
using platform::LoadLE64;
using platform::StoreLE32;
using platform::StoreLE64;

// Both directions of the codec walk the same field list, so the offsets are
// written once. Decoding reads a whole block.
class TCodec {
 public:
  // Encoding into `out` (2,168 zero bytes).
  explicit TCodec(std::uint8_t* out) : m_out(out) {}
  // Decoding from `in` of `size` bytes.
  TCodec(const std::uint8_t* in, std::size_t size) : m_in(in), m_size(size) {}

  void U8(std::size_t at, std::uint8_t& v) {
    if (m_out)
      m_out[at] = v;
    else if (Covers(at, 1))
      v = m_in[at];
  }
  void U32(std::size_t at, std::uint32_t& v) {
    if (m_out)
      StoreLE32(m_out + at, v);
    else if (Covers(at, 4))
      v = LoadLE32(m_in + at);
  }
  void I32(std::size_t at, std::int32_t& v) {
    auto u = static_cast<std::uint32_t>(v);
    U32(at, u);
    v = static_cast<std::int32_t>(u);
  }
  void I64(std::size_t at, std::int64_t& v) {
    if (m_out)
      StoreLE64(m_out + at, static_cast<std::uint64_t>(v));
    else if (Covers(at, 8))
      v = static_cast<std::int64_t>(LoadLE64(m_in + at));
  }
  void F64(std::size_t at, double& v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    if (m_out) {
      StoreLE64(m_out + at, bits);
    } else if (Covers(at, 8)) {
      bits = LoadLE64(m_in + at);
      std::memcpy(&v, &bits, sizeof v);
    }
  }
  template <std::size_t N>
  void Block(std::size_t at, TBlock<N>& b) {
    if (m_out)
      std::memcpy(m_out + at, b.data(), N);
    else if (Covers(at, N))
      std::memcpy(b.data(), m_in + at, N);
  }

 private:
  bool Covers(std::size_t at, std::size_t n) const { return at + n <= m_size; }
  std::uint8_t* m_out = nullptr;
  const std::uint8_t* m_in = nullptr;
  std::size_t m_size = 0;
};

void CodeDocManager(TCodec& c, std::size_t b, TDocManagerCfg& d) {
  c.I32(b + 0, d.format);
  c.I32(b + 4, d.pixelFormat);
  c.U8(b + 8, d.singleImage);
  c.I32(b + 12, d.width);
  c.I32(b + 16, d.height);
  c.I32(b + 20, d.yuvFormat);
  c.U8(b + 24, d.yuvSingleImage);
  c.I32(b + 28, d.yuvWidth);
  c.I32(b + 32, d.yuvHeight);
  c.I32(b + 36, d.jpegQuality);
  c.Block(b + 40, d.png);
  c.Block(b + 68, d.gif);
  c.Block(b + 100, d.tiff);
}

void CodeRecorder(TCodec& c, std::size_t b, TRecorderCfg& r) {
  c.U8(b + 0, r.enabled);
  c.U8(b + 1, r.singleFile);
  c.I32(b + 8, r.clipDigits);
  c.I32(b + 12, r.frameDigits);
  c.I32(b + 16, r.samplingMethod);
  c.F64(b + 24, r.timeBegin);
  c.F64(b + 32, r.timeEnd);
  c.F64(b + 40, r.timeStep);
  c.I64(b + 48, r.sampleBegin);
  c.I64(b + 56, r.sampleEnd);
  c.I64(b + 64, r.sampleStep);
  c.U8(b + 72, r.addSuffix);
  c.I32(b + 76, r.format);
  c.I32(b + 80, r.jpegQuality);
  c.Block(b + 84, r.jpeg2000);
  c.Block(b + 120, r.png);
  c.Block(b + 148, r.gif);
  c.Block(b + 180, r.tiff);
  c.Block(b + 216, r.avi);
  c.Block(b + 232, r.windowsMedia);
  c.U8(b + 280, r.pipEnabled);
  c.U8(b + 281, r.primaryAsShown);
}

void CodeCapture(TCodec& c, std::size_t b, TCaptureCfg& k) {
  c.U8(b + 0, k.copyToClipboard);
  c.U8(b + 1, k.saveToFile);
  c.I32(b + 4, k.nextClipIndex);
  c.I32(b + 8, k.clipDigits);
  c.I32(b + 12, k.frameDigits);
  c.U8(b + 16, k.addSuffix);
  c.I32(b + 20, k.format);
  c.U8(b + 24, k.documentFlag);
}

void CodeImageSave(TCodec& c, std::size_t b, TImageSaveCfg& s) {
  c.I32(b + 0, s.documentValue);
  c.I32(b + 4, s.yuvFormat);
  c.U8(b + 8, s.yuvSingleImage);
  c.I32(b + 12, s.yuvWidth);
  c.I32(b + 16, s.yuvHeight);
  c.I32(b + 20, s.jpegQuality);
  c.Block(b + 24, s.jpeg2000);
  c.Block(b + 60, s.png);
  c.Block(b + 88, s.gif);
  c.Block(b + 120, s.tiff);
}

void Code(TCodec& c, TProgCfg& p) {
  using namespace progcfg;
  c.U8(kSavedMarker, p.savedMarker);
  c.U32(kOptionFlags, p.optionFlags);
  c.U32(kOptionResetMask, p.optionResetMask);
  CodeDocManager(c, kDocManager, p.docManager);
  for (std::size_t i = 0; i < 4; ++i) {
    c.I32(kChannelFiles + 8 * i, p.channelFiles[i].filesOfType);
    c.I32(kChannelFiles + 8 * i + 4, p.channelFiles[i].sorting);
  }
  c.U8(kRecordingOn, p.recordingOn);
  for (std::size_t i = 0; i < 4; ++i) CodeRecorder(c, kRecorder + kRecorderSize * i, p.recorder[i]);
  for (std::size_t i = 0; i < 4; ++i) CodeCapture(c, kCapture + kCaptureSize * i, p.capture[i]);
  for (std::size_t i = 0; i < 4; ++i) c.Block(kVideoPane + 28 * i, p.videoPane[i]);
  for (std::size_t i = 0; i < 4; ++i) c.Block(kPictureInPicture + 56 * i, p.pictureInPicture[i]);
  CodeImageSave(c, kImageSave, p.imageSave);
  for (std::size_t i = 0; i < kMdiTabSettingCount; ++i) c.I32(kMdiTabs + 4 * i, p.mdiTabs[i]);
  c.U8(kResetChildWindows, p.resetChildWindows);
  c.U8(kMdiTabsChanged, p.mdiTabsChanged);
  c.I32(kLookId, p.lookId);
  c.U8(kLookChanged, p.lookChanged);
  c.I32(kToolbarImageStyle, p.toolbarImageStyle);
  for (std::size_t i = 0; i < kStartPlayingSwitchCount; ++i) c.U8(kStartPlaying + i, p.startPlaying[i]);
}

// The field map: which bytes a block's encoding writes.
std::vector<bool> BuildFieldMap() {
  // Encode a block whose every field byte is non-zero by setting all fields
  // to all-ones: reserved bytes stay zero.
  TProgCfg ones;
  std::vector<std::uint8_t> bytes(kProgCfgSize, 0xFF);
  DecodeProgCfg(bytes.data(), bytes.size(), ones);
  const std::vector<std::uint8_t> enc = EncodeProgCfg(ones);
  std::vector<bool> map(kProgCfgSize);
  for (std::size_t i = 0; i < kProgCfgSize; ++i) map[i] = enc[i] != 0;
  return map;
}

}  // namespace

bool TRecorderCfg::operator==(const TRecorderCfg& o) const {
  return EncodeProgCfg([&] {
           TProgCfg a;
           a.recorder[0] = *this;
           return a;
         }()) == EncodeProgCfg([&] {
           TProgCfg b;
           b.recorder[0] = o;
           return b;
         }());
}

std::vector<std::uint8_t> EncodeProgCfg(const TProgCfg& cfg) {
  std::vector<std::uint8_t> out(kProgCfgSize, 0);
  TCodec c(out.data());
  TProgCfg copy = cfg;
  Code(c, copy);
  return out;
}

bool PipRecordInRange(const TBlock<56>& record) {
  // The inset's place and size (16..31) and its source rectangle (36..51).
  for (std::size_t at : {16u, 20u, 24u, 28u, 36u, 40u, 44u, 48u}) {
    const auto v = static_cast<std::int32_t>(platform::LoadLE32(record.data() + at));
    if (v < -kPipCoordinateLimit || v > kPipCoordinateLimit) return false;
  }
  return true;
}

bool DecodeProgCfg(const std::uint8_t* data, std::size_t size, TProgCfg& cfg) {
  if (size > kProgCfgSize || (!data && size)) return false;
  // A shorter block fills the beginning byte by byte: the bytes it does not
  // reach keep what `cfg` held, even inside a field it covers only in part.
  std::vector<std::uint8_t> bytes = EncodeProgCfg(cfg);
  if (size) std::memcpy(bytes.data(), data, size);
  TProgCfg read = cfg;
  TCodec c(bytes.data(), bytes.size());
  Code(c, read);
  // Records whose numbers no pane could hold keep what `cfg` held.
  for (std::size_t i = 0; i < read.pictureInPicture.size(); ++i)
    if (!PipRecordInRange(read.pictureInPicture[i])) read.pictureInPicture[i] = cfg.pictureInPicture[i];
  cfg = read;
  return true;
}

bool IsProgCfgFieldByte(std::size_t offset) {
  static const std::vector<bool> map = BuildFieldMap();
  return offset < map.size() && map[offset];
}

}  // namespace shell

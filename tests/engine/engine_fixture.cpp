#include "tests/engine/engine_fixture.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>

namespace engine_test {

using namespace ZarnTypes;

std::vector<std::uint8_t> CodedFrame(int k) {
  std::vector<std::uint8_t> frame(kFrameBytes, 128);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      frame[static_cast<std::size_t>(y * kWidth + x)] = (k >> (x / 8)) & 1 ? 235 : 16;
  return frame;
}

void WriteRawYuv(const std::filesystem::path& path, int count) {
  std::ofstream out(path, std::ios::binary);
  for (int k = 0; k < count; ++k) {
    const std::vector<std::uint8_t> frame = CodedFrame(k);
    out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
  }
}

int DecodePicture(const Dib::TDibSection& picture) {
  if (picture.Width() != kWidth || picture.Height() != kHeight || picture.BitCount() != 32) return -1;
  int k = 0;
  for (int stripe = 0; stripe < 8; ++stripe) {
    int bit = -1;
    for (int y : {0, kHeight / 2, kHeight - 1}) {
      const std::uint8_t* px = picture.RowFromTop(y) + 4 * (stripe * 8 + 3);
      const int level = px[1];
      const int b = level > 200 ? 1 : level < 40 ? 0 : -1;
      if (b < 0 || (bit >= 0 && b != bit)) return -1;
      bit = b;
    }
    k |= bit << stripe;
  }
  return k;
}

int DecodePort(VideoPortHub::CVideoPortHub& ports, int channel) {
  VideoPort::TPicture picture = ports.Port(channel).FrontBitmap();
  return picture ? DecodePicture(*picture) : -1;
}

TMediaSource YuvSource(const std::filesystem::path& path) {
  TMediaSource source;
  source.bOpen = TRUE_;
  source.bLoaded = TRUE_;
  source.eState = SOURCE_STATE_LOADED;
  source.eStreamType = TStreamType{kYuvFormat};
  source.eFileFormat = TFileFormat{kYuvFormat};
  source.eFramePixelFormat = TPixelFormat{kYuvFormat - 2};
  source.nWidth = kWidth;
  source.nHeight = kHeight;
  source.sPath = path.string();
  return source;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool TFileReader::SetSource(int, const TMediaSource&) { return true; }

bool TFileReader::Run() {
  m_nRuns.fetch_add(1);
  m_nNiceness.store(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))));
  struct TEnd {
    std::atomic<int>& ended;
    ~TEnd() { ended.fetch_add(1); }
  } end{m_nRunsEnded};
  std::FILE* file = std::fopen(m_Path.string().c_str(), "rb");
  if (!file) return false;
  std::vector<std::uint8_t> frame(kFrameBytes);
  TMediaFrameNotice notice;
  notice.ePixelFormat = TPixelFormat{kYuvFormat - 2};
  notice.nWidth = kWidth;
  notice.nHeight = kHeight;
  notice.nChromaWidth = kWidth / 2;
  notice.nChromaHeight = kHeight / 2;
  notice.pY = frame.data();
  notice.pCb = frame.data() + kYSize;
  notice.pCr = frame.data() + kYSize + kChromaSize;
  bool haveFrame = false;
  for (;;) {
    if (!m_bStill || !haveFrame) {
      if (std::fread(frame.data(), 1, frame.size(), file) != frame.size()) {
        if (m_Delivery.pEndFlag) m_Delivery.pEndFlag->store(true);
        if (m_bHoldAtEnd)
          while (!m_Delivery.pStopFlag->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        break;
      }
      haveFrame = true;
    }
    if (!m_Delivery.pFrameCallback(m_Delivery.eSenderKind, m_Delivery.ePurpose, m_Delivery.nProcId,
                                   m_Delivery.pContext, &notice)) {
      m_nRefused.fetch_add(1);
      m_Delivery.pStopFlag->store(true);
    }
    m_nDelivered.fetch_add(1);
    if (m_Delivery.pStopFlag->load() || m_Delivery.pEndFlag->load()) break;
  }
  std::fclose(file);
  return true;
}

TTestOwner::TTestOwner() {
  m_Ports.ResetAll();
  m_Config.nCtrlPeriod = 1;
  m_Config.nVideoOutPeriod = 1;
  m_Config.nVideoOutDelay = 0;
}

void TTestOwner::FrameShown(int channel, std::int32_t frameNumber) {
  m_nPacingNiceness.store(getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))));
  const int picture = DecodePort(m_Ports, channel);
  std::lock_guard<std::mutex> lock(m_Mutex);
  m_Shown.push_back({channel, frameNumber, picture});
}

void TTestOwner::FrameReplayed(int channel, std::int32_t frameNumber) {
  const int picture = DecodePort(m_Ports, channel);
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Replayed.push_back({channel, frameNumber, picture});
  }
  if (m_OnReplayed) m_OnReplayed();
}

std::vector<int> TTestOwner::ShownFrames(int channel) const {
  std::vector<int> frames;
  for (const TShown& shown : Shown())
    if (shown.channel == channel) frames.push_back(shown.frameNumber);
  return frames;
}

EngineTest::EngineTest() {
  static std::atomic<int> counter{0};
  m_Dir = std::filesystem::temp_directory_path() /
          ("tovrin-engine-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)));
  std::filesystem::create_directories(m_Dir);
  for (int ch = 0; ch < 4; ++ch) owner.m_Config.source[ch] = TMediaSource{};
}

void EngineTest::BoundedShutdown() {
  // A stop that never reaches a thread fails here within seconds, with a
  // message, instead of hanging the test program until CTest's time-out.
  engine.StopPlaying();
  if (!WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(10))) {
    ADD_FAILURE() << "the session did not end within 10 s of the stop";
    for (const auto& reader : m_Readers) reader->ForceStop();
    if (!WaitFor([&] { return !engine.IsRunning(); }, std::chrono::seconds(5))) {
      std::fprintf(stderr, "the engine's session hangs after its stop; giving up\n");
      std::abort();
    }
  }
  engine.Shutdown();
}

EngineTest::~EngineTest() {
  BoundedShutdown();
  std::error_code ec;
  std::filesystem::remove_all(m_Dir, ec);
}

TFileReader& EngineTest::OpenYuv(int channel, int frames, bool holdAtEnd) {
  const std::filesystem::path path = File("channel" + std::to_string(channel) + ".yuv");
  WriteRawYuv(path, frames);
  owner.m_Config.source[channel] = YuvSource(path);
  m_Readers.push_back(std::make_unique<TFileReader>(path, false, holdAtEnd));
  owner.m_pReader[channel] = m_Readers.back().get();
  return *m_Readers.back();
}

void EngineTest::PlayChannels(std::initializer_list<int> channels) {
  bool enable[4] = {};
  for (int ch : channels) enable[ch] = true;
  engine.SetPlayChannels(enable);
}

}  // namespace engine_test

#pragma once
// A Windows Media encoder sink for tests without GStreamer: installed as the
// writer's sink factory, it records, per output file, the stamp of every
// frame written (the first pixel's bytes) and its time. Writes can be slowed
// or held at a gate; a held write ends, failing, on the job's stop flag when
// the test asks for that. Header only: shared by the recorder's and the
// engine's tests.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/codecs/wm_writer.h"

namespace wm_fake {

// What a frame's first pixel carries: its channel (red) and its number
// (green high byte, blue low byte).
struct TStamp {
  int channel = -1;
  int number = -1;
};

// Stamps the first pixel of a bottom-up RGB row buffer.
inline void StampFrame(std::uint8_t* pFirstPixel, int channel, int number) {
  pFirstPixel[0] = static_cast<std::uint8_t>(number & 0xff);
  pFirstPixel[1] = static_cast<std::uint8_t>((number >> 8) & 0xff);
  pFirstPixel[2] = static_cast<std::uint8_t>(channel);
}
inline TStamp ReadStamp(const std::uint8_t* pFirstPixel) {
  return {pFirstPixel[2], pFirstPixel[0] | (pFirstPixel[1] << 8)};
}

struct TFile {
  WmWriter::TWmSinkFormat format;
  std::vector<TStamp> frames;
  std::vector<std::int64_t> times;
  bool bFinished = false;
};

// The script every fake sink follows, and what they recorded.
class CSinkScript {
 public:
  std::map<std::string, TFile> Files() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Files;
  }
  int Opened() const {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_nOpened;
  }
  std::int64_t Writes() const { return m_nWrites.load(); }
  // Every write waits until the gate opens (or, with bStopEndsHeldWrite,
  // the job's stop flag is raised: the write then fails).
  void CloseGate() {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_bGateOpen = false;
  }
  void OpenGate() {
    {
      std::lock_guard<std::mutex> lock(m_Lock);
      m_bGateOpen = true;
    }
    m_Cv.notify_all();
  }
  bool bStopEndsHeldWrite = false;
  bool bOpenFails = false;
  std::chrono::microseconds writeDelay{0};

  bool Open(const WmWriter::TWmSinkFormat& format) {
    std::lock_guard<std::mutex> lock(m_Lock);
    ++m_nOpened;
    if (bOpenFails) return false;
    m_Files[format.path].format = format;
    return true;
  }
  bool Write(const std::string& path, const std::atomic<bool>* pStop, const std::uint8_t* pData,
             std::int64_t nTime) {
    if (writeDelay.count() > 0) std::this_thread::sleep_for(writeDelay);
    std::unique_lock<std::mutex> lock(m_Lock);
    while (!m_bGateOpen) {
      if (bStopEndsHeldWrite && pStop && pStop->load()) return false;
      m_Cv.wait_for(lock, std::chrono::milliseconds(5));
    }
    TFile& file = m_Files[path];
    file.frames.push_back(ReadStamp(pData));
    file.times.push_back(nTime);
    m_nWrites.fetch_add(1);
    return true;
  }
  void Finish(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Files[path].bFinished = true;
  }

 private:
  mutable std::mutex m_Lock;
  std::condition_variable m_Cv;
  std::map<std::string, TFile> m_Files;
  int m_nOpened = 0;
  bool m_bGateOpen = true;
  std::atomic<std::int64_t> m_nWrites{0};
};

inline CSinkScript*& Script() {
  static CSinkScript* pScript = nullptr;
  return pScript;
}

class CFakeSink final : public WmWriter::IWmSink {
 public:
  bool Open(const WmWriter::TWmSinkFormat& format) override {
    m_Format = format;
    return Script()->Open(format);
  }
  bool Write(const std::uint8_t* pData, std::size_t, std::int64_t nTime, std::int64_t) override {
    return Script()->Write(m_Format.path, m_Format.pStopFlag, pData, nTime);
  }
  bool Finish() override {
    Script()->Finish(m_Format.path);
    return true;
  }
  std::string LastError() const override { return "the fake sink failed"; }

 private:
  WmWriter::TWmSinkFormat m_Format;
};

inline std::unique_ptr<WmWriter::IWmSink> MakeFakeSink() { return std::make_unique<CFakeSink>(); }

// Installs a script and the fake sinks for the lifetime of the object.
class TScopedFakeSinks {
 public:
  TScopedFakeSinks() {
    Script() = &script;
    WmWriter::SetWmSinkFactory(&MakeFakeSink);
  }
  ~TScopedFakeSinks() {
    WmWriter::SetWmSinkFactory(nullptr);
    Script() = nullptr;
  }
  TScopedFakeSinks(const TScopedFakeSinks&) = delete;
  TScopedFakeSinks& operator=(const TScopedFakeSinks&) = delete;
  CSinkScript script;
};

}  // namespace wm_fake

#pragma once
// Video ports: the picture each channel of a media document shows.
//
// A port holds two 32-bit bottom-up DIB sections, a front one that the panes
// paint and a back one that writers draw into, the orientation (rotation or
// reflection) in which frames are drawn, and a mutex. Every change goes
// through CVideoPort::UpdateVideoPort with an update record: loaders and the
// frame delivery copy frames in, the rotate and reflect commands change the
// orientation, closing a source resets the port.
//
// Sharing with the panes: the front picture is handed out as a shared
// reference taken under the port's mutex (FrontBitmap). A writer never draws
// into a picture that someone else still holds: when the back picture is
// still referenced by a pane that took it while it was the front, the writer
// draws into a fresh picture of the same size instead. So a pane that paints
// while frames arrive sees one whole picture, and the picture stays alive
// until the pane lets it go.
//
// Orientation codes (media/orientation.h) are 2 x 2 integer matrices acting
// on memory coordinates (x the column, y the row in memory order). The
// port's pictures are bottom-up, so on screen code 6 turns the picture
// clockwise and code 2 counter-clockwise.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "media/dib.h"
#include "media/frame_buffer.h"
#include "media/orientation.h"

namespace ZarnTypes {

enum TVideoPortCommand : std::int32_t {
  VPU_RESET = 1,
  VPU_ORIENT = 2,
  VPU_COPY_FRAME = 3,
  VPU_KEEP = 4,  // do nothing
  VPU_RENDER_BITMAP = 5,
};

// The update record. Callers build it on their stack zeroed, fill what they
// need and read back only bSizeChanged; while processing, the port may
// overwrite the command and source fields.
struct TVideoPortUpdate {
  std::int32_t nCommand = 0;                        // TVideoPortCommand
  std::int32_t nPortIndex = 0;                      // channel 0..3 (CVideoPortHub::UpdatePort)
  TFrameBuffer* pSourceFrame = nullptr;             // 24 or 32 bits per pixel
  const Dib::TDibSection* pSourceBitmap = nullptr;  // picture to render from
  std::uint8_t bSizeChanged = 0;                    // written by the port, never cleared by it
  std::uint8_t bSwap = 0;              // after a successful copy the back picture becomes the front
  std::int32_t nOrientation = 0;       // VPU_ORIENT: requested code
  std::uint8_t bAbsolute = 0;          // VPU_ORIENT: the code is the new orientation
  std::uint8_t bStoreOnly = 0;         // VPU_ORIENT: record the orientation without redrawing
  std::uint8_t bResetOrientation = 0;  // VPU_RESET: orientation back to 0
  std::uint8_t bResetBitmaps = 0;      // VPU_RESET: both pictures back to 1 x 1
};

}  // namespace ZarnTypes

namespace VideoPortUpdate {

class CVideoPortUpdate : public ZarnTypes::TVideoPortUpdate {
 public:
  virtual ~CVideoPortUpdate() = default;
};

}  // namespace VideoPortUpdate

namespace VideoPort {

// The orientation algebra, as the port's users have always named it here.
using Orientation::ComposeOrientation;
using Orientation::InverseOrientation;
using Orientation::kOrientationInverse;
using Orientation::kOrientationMatrix;
using Orientation::OrientationSwapsSize;

// Copies the source frame into the target description turned by the
// orientation code. W x H is the source size; the target must be 32 bits per
// pixel, W' x H' (exchanged for codes 1, 2, 5, 6), with rows of at least
// W' x 4 bytes and a buffer of at least that many rows. Source pixel (x, y)
// goes to target pixel (x', y') as the code's matrix maps it, shifted back
// into the picture. False, with nothing written, for a code above 8, a
// source or target that does not describe enough bytes, or a size mismatch.
//
// 24-bit sources: rows are the frame's stride apart; a frame with a stride
// below 1 is first laid out with rows padded to 4 bytes, and that layout
// (stride, size, padded height, alignment 4) is written back into the frame.
// The fourth byte of each target pixel is 0.
bool OrientCopy24To32(std::int32_t orientation, ZarnTypes::TFrameBuffer& source,
                      ZarnTypes::TFrameBuffer& target);
// 32-bit sources: rows are the frame's stride apart (W x 4 bytes when the
// stride is not set).
bool OrientCopy32To32(std::int32_t orientation, const ZarnTypes::TFrameBuffer& source,
                      ZarnTypes::TFrameBuffer& target);

using TPicture = std::shared_ptr<const Dib::TDibSection>;

class CVideoPort {
 public:
  CVideoPort() = default;
  virtual ~CVideoPort() = default;
  CVideoPort(const CVideoPort&) = delete;
  CVideoPort& operator=(const CVideoPort&) = delete;

  // Locks the port, runs the record's command, unlocks. Commands:
  // VPU_RESET, VPU_ORIENT, VPU_COPY_FRAME, VPU_KEEP (true),
  // VPU_RENDER_BITMAP; any other value gives false.
  bool UpdateVideoPort(ZarnTypes::TVideoPortUpdate& update);

  // Both pictures re-created as 1 x 1 sections of the depth.
  bool ResetBitmaps(std::int32_t depth);

  // Lets `write` draw a width x height frame straight into the back picture
  // (made to that size first), under the port's mutex, and then makes it the
  // front. The target handed to `write` is a bottom-up PF_RGB32 record over
  // the picture's bits. Only while the port's orientation is 0 and its depth
  // 32; otherwise, or when `write` answers false, the front stays as it was
  // and the result is false. *pSizeChanged tells whether the back picture
  // was made to a new size.
  bool WriteFrame(std::int32_t width, std::int32_t height,
                  const std::function<bool(ZarnTypes::TFrameBuffer& target)>& write, bool* pSizeChanged);

  // The picture on show, or null before the first reset. The reference keeps
  // the picture alive and unchanged for as long as the caller holds it.
  TPicture FrontBitmap() const;
  // The same with a number that changes whenever the front picture changes
  // (a swap or a reset), for panes that keep a converted copy.
  TPicture FrontBitmap(std::uint64_t& generation) const;

  std::int32_t Orientation() const;
  std::int32_t Depth() const;
  std::int32_t FrontIndex() const;

  // Called with each new front picture right after a frame is swapped in
  // (on the thread that swaps, under the port's mutex: it must be quick and
  // must not call back into the port). For watchers that need every picture
  // shown, however briefly; null removes it. A new observer is first called
  // at once with the picture on screen.
  using TSwapObserver = std::function<void(const TPicture& front)>;
  void SetSwapObserver(TSwapObserver observer);

 private:
  bool ResetPort(ZarnTypes::TVideoPortUpdate& update);
  bool ChangeOrientation(ZarnTypes::TVideoPortUpdate& update);
  bool CopyFrame(ZarnTypes::TVideoPortUpdate& update);
  bool RenderBitmap(ZarnTypes::TVideoPortUpdate& update);
  bool ResetBitmapsLocked(std::int32_t depth);
  bool CreateBackBitmap(int index, int width, int height);
  // The back picture, made private first when a pane still holds it.
  Dib::TDibSection* WritableBack();

  std::shared_ptr<Dib::TDibSection> m_Bitmap[2];
  std::int32_t m_nFront = 0;
  std::int32_t m_nDepth = 32;
  std::int32_t m_nOrientation = 0;
  std::uint64_t m_nGeneration = 0;
  TSwapObserver m_SwapObserver;
  mutable std::mutex m_Mutex;
};

}  // namespace VideoPort

namespace VideoPortHub {

class CVideoPortHub {
 public:
  static constexpr int kPortCount = 4;

  CVideoPortHub() = default;
  virtual ~CVideoPortHub() = default;

  // UpdateVideoPort of the port the record names; false for an index
  // outside 0..3.
  bool UpdatePort(ZarnTypes::TVideoPortUpdate& update);

  // ResetBitmaps(32) on ports 0..3 in turn; false at the first that fails.
  bool ResetAll();

  VideoPort::CVideoPort& Port(int index) { return m_Port[index]; }
  const VideoPort::CVideoPort& Port(int index) const { return m_Port[index]; }

 private:
  VideoPort::CVideoPort m_Port[kPortCount];
};

}  // namespace VideoPortHub

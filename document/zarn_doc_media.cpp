// Position and volume of a document's media channels: what the controller
// pane's position and volume sliders ask of the document.

#include <algorithm>
#include <cmath>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "io/read_stream.h"
#include "media/device_kinds.h"
#include "platform/qt/app_messages.h"

namespace ZarnDoc {

using namespace ZarnTypes;
namespace pq = platform::qt;

namespace {

// Media-graph and MNG channels have a position and a volume; MPEG-1, H.264,
// the DVD files and everything else have neither.
bool HasPosition(std::int32_t type) { return ReadStream::IsMediaGraphType(type) || type == ST_MNG; }

bool IsChannel(int channel) { return channel >= 0 && channel < kChannelCount; }

}  // namespace

bool CZarnDoc::SeekChannel(int channel, std::int32_t position, std::int32_t maximum) {
  if (!IsChannel(channel)) return false;
  // A position is a share of the whole: 0..maximum of a positive maximum.
  if (maximum <= 0 || position < 0 || position > maximum) return false;
  const TMediaSource& source = m_Source[channel];
  if (!source.bOpen) return false;
  const std::int32_t type = source.eStreamType;
  const bool running = m_Engine.IsRunning();
  if (type == ST_SYSTEM_DEVICE) {
    // Of the devices only a DVD volume seeks, and only while it plays.
    if (source.nDeviceCategory != SDC_DVD || !running) return false;
  } else if (!HasPosition(type)) {
    return false;
  }

  // The media graph does not seek to the very end of a file: a re-open
  // there would show the file's first picture. With nothing playing the
  // channel keeps what it shows.
  if (!running && position == maximum) return false;

  ReadStream::CReadStream& reader = ChannelReader(channel);
  reader.SetSeekRequest(position, maximum);
  if (running) {
    // A channel whose reader has read its file to the end (it reads ahead
    // of the picture) has nothing left to seek: its cached frames play on,
    // and the stored request starts the next session there.
    if (!ChannelStreaming(channel)) return true;
    // The frames of the channel cached but not shown yet are dropped first,
    // and every frame until the first one from the target on: the next
    // frame shown is the target (at once while paused), and the replay
    // window afterwards holds only frames from there on. Then the playing
    // session seeks (a seek it cannot carry out still marks its next frame,
    // so the channel never stalls).
    m_Engine.FlushChannel(channel);
    reader.Seek(position, maximum);
    return true;
  }

  // Nothing plays: the source is opened again in place and shows the
  // picture at the stored position.
  TOpenSourceArgs args;
  args.path = source.sPath;
  args.channel = channel;
  args.format = source.eFileFormat;
  if (type == ST_MNG) return LoadMngSource(args, true);
  TDShowOpenOptions options;
  options.reopen = true;
  // A file that can no longer be opened is a failed seek; the channel keeps
  // what it showed.
  if (!LoadDShowSource(args, options)) return false;
  // The picture is the frame nearest position / maximum of the duration:
  // where the file told its frame period and duration, the counter and the
  // time readout show that frame.
  const double period = ChannelFramePeriodMs(channel);
  const double duration = ChannelDurationMs(channel);
  if (period > 0.0 && duration > 0.0) {
    const double frames = std::floor(duration / period + 0.5);
    double index = std::floor(duration * position / maximum / period + 0.5);
    index = std::clamp(index, 0.0, std::max(0.0, frames - 1.0));
    m_Engine.m_Channel[channel].nShownFrame.store(static_cast<std::int32_t>(index));
    if (m_pControllerView)
      pq::SendAppMessage(m_pControllerView.data(), pq::WM_APP_CONTROLLER_UPDATE,
                         ZarnControllerView::CONTROLLER_UPDATE_COUNTERS, 0);
  }
  return true;
}

bool CZarnDoc::SetChannelVolume(int channel, std::int32_t level, std::int32_t maximum) {
  if (!IsChannel(channel)) return false;
  if (maximum <= 0 || level < 0 || level > maximum) return false;
  const TMediaSource& source = m_Source[channel];
  if (!source.bOpen) return false;
  const std::int32_t type = source.eStreamType;
  if (!HasPosition(type)) return false;
  ChannelReader(channel).SetVolume(level, maximum);
  return true;
}

}  // namespace ZarnDoc

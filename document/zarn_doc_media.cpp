// Position and volume of a document's media channels: what the controller
// pane's position and volume sliders ask of the document.

#include "document/zarn_doc.h"

namespace ZarnDoc {

using namespace ZarnTypes;

namespace {

// Stream types played by a media-graph session: devices (2), OOV, MPEG-2,
// MPEG-4, DV..MOV and the sound files. MPEG-1 (4), H.264 (7) and the DVD
// files (16..18) have no position; neither has anything else.
bool IsMediaGraphStream(std::int32_t type) {
  return type == ST_SYSTEM_DEVICE || type == ST_OOV || type == ST_MPEG2 || type == ST_MPEG4 ||
         (type >= ST_DV && type <= ST_MOV) || (type >= ST_MP3 && type <= ST_WAV);
}

// Device category of a DVD volume.
constexpr std::int32_t kDvdCategory = 6;

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
    if (source.nDeviceCategory != kDvdCategory || !running) return false;
  } else if (!IsMediaGraphStream(type) && type != ST_MNG) {
    return false;
  }

  // The media graph does not seek to the very end of a file: a re-open
  // there would show the file's first picture. With nothing playing the
  // channel keeps what it shows.
  if (!running && position == maximum) return false;

  ReadStream::CReadStream& reader = ChannelReader(channel);
  reader.SetSeekRequest(position, maximum);
  if (running) {
    // The playing session seeks; should it have ended, the stored request
    // starts the next session there.
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
  return LoadDShowSource(args, options);
}

bool CZarnDoc::SetChannelVolume(int channel, std::int32_t level, std::int32_t maximum) {
  if (!IsChannel(channel)) return false;
  if (maximum <= 0 || level < 0 || level > maximum) return false;
  const TMediaSource& source = m_Source[channel];
  if (!source.bOpen) return false;
  const std::int32_t type = source.eStreamType;
  if (!IsMediaGraphStream(type) && type != ST_MNG) return false;
  ChannelReader(channel).SetVolume(level, maximum);
  return true;
}

}  // namespace ZarnDoc

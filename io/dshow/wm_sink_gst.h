#pragma once
// The Windows Media encoder sink on GStreamer:
//   appsrc (BGRx or BGR, bottom-up rows padded to 4 bytes)
//   ! videoflip video-direction=vert ! videoconvert
//   [! videobox right=-1: the encoder takes only even widths]
//   ! avenc_wmv2 ! identity single-segment=true ! avmux_asf ! filesink
// The identity makes the muxer's times start at 0 (without it other players
// see a start of 3,600,000 s). A write waits while the encoder is behind;
// the wait also ends on an error of the pipeline and, once the job's stop
// flag is up, when the encoder has taken nothing for a while, so a refused
// format or a stuck encoder never holds the writer thread.

#include <memory>

#include "io/codecs/wm_writer.h"

namespace WmWriter {

// A new GStreamer sink.
std::unique_ptr<IWmSink> MakeGstWmSink();
// Installs it as the job's sink (DShowMgr::UseMediaGraph does it too).
void UseGstWmSink();

}  // namespace WmWriter

#pragma once
// A recorder's settings in the saved form (the recorder block of the
// program settings and the channel's naming strings), and back. The
// document's saved defaults and the "Save stream" page's exchange both go
// through these.

#include "io/codecs/save_stream.h"
#include "shell/app_params.h"
#include "shell/prog_cfg.h"

namespace ZarnDoc {

// The recorder's values into `cfg` and `names`; bytes that carry no
// setting keep what `cfg` held.
void RecorderToCfg(const SaveStream::CSaveStream& recorder, shell::TRecorderCfg& cfg,
                   shell::TChannelNaming& names);
// The names into the recorder, and with `withSettings` every other value
// of `cfg` (the output format sets the stream type).
void RecorderFromCfg(SaveStream::CSaveStream& recorder, const shell::TRecorderCfg& cfg,
                     const shell::TChannelNaming& names, bool withSettings);

}  // namespace ZarnDoc

#pragma once
// The encoder records in the byte layout the saved settings and the save
// prompt keep them in (little-endian fields; a byte field is followed by
// three bytes of padding, which writing leaves as they were).

#include "io/codecs/save_picture.h"
#include "shell/prog_cfg.h"

namespace ZarnTypes {
struct TVideoPaneSettings;
struct TPictInPict;
}  // namespace ZarnTypes

namespace ZarnDoc::Blocks {

// A channel's video-pane record (28 bytes): fast-stretch byte, "View" and
// "Play" stretch modes, three values and a flag of the document's own.
void EncodeVideoPane(const ZarnTypes::TVideoPaneSettings& s, shell::TBlock<28>& b);
void DecodeVideoPane(const shell::TBlock<28>& b, ZarnTypes::TVideoPaneSettings& s);
// A pane's picture-in-picture record (56 bytes): the enabled byte, then 13
// 32-bit values.
void EncodePip(const ZarnTypes::TPictInPict& p, shell::TBlock<56>& b);
void DecodePip(const shell::TBlock<56>& b, ZarnTypes::TPictInPict& p);

void EncodeJpeg2000(const ZarnTypes::TJpeg2000Settings& s, shell::TBlock<36>& b);
void DecodeJpeg2000(const shell::TBlock<36>& b, ZarnTypes::TJpeg2000Settings& s);
void EncodePng(const PngMgr::TPngSettings& s, shell::TBlock<28>& b);
void DecodePng(const shell::TBlock<28>& b, PngMgr::TPngSettings& s);
void EncodeGif(const ZarnTypes::TGifSettings& s, shell::TBlock<32>& b);
void DecodeGif(const shell::TBlock<32>& b, ZarnTypes::TGifSettings& s);
void EncodeTiff(const ZarnTypes::TTiffSettings& s, shell::TBlock<36>& b);
void DecodeTiff(const shell::TBlock<36>& b, ZarnTypes::TTiffSettings& s);

}  // namespace ZarnDoc::Blocks

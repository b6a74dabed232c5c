// The document's side of the Video Pane, Picture In Picture and Transform
// 2D pages: the four channels' video-pane records and the four panes' inset
// records, in the byte layout the saved settings keep them in, so the pages
// hand back the document's own bytes of each record unchanged; and the
// channels' orientations.
#include <cstring>

#include "document/zarn_controller_view.h"
#include "document/zarn_doc.h"
#include "document/zarn_doc_blocks.h"
#include "options/zarn_options.h"

namespace ZarnDoc {

using namespace ZarnTypes;

void CZarnDoc::ExchangeVideoPaneSettings(TVideoPaneExchange& block) {
  static_assert(sizeof(TVideoPaneChannel) == sizeof(shell::TBlock<28>));
  switch (block.header.op) {
    case OPTS_XCHG_READ:
      block.identifier = &m_strDocName;
      block.title = &m_strDocTitle;
      for (int ch = 0; ch < kChannelCount; ++ch) {
        shell::TBlock<28> record{};
        Blocks::EncodeVideoPane(m_VideoPane[ch], record);
        std::memcpy(&block.channels[ch], record.data(), record.size());
      }
      break;
    case OPTS_XCHG_WRITE:  // taken also while the document plays
      for (int ch = 0; ch < kChannelCount; ++ch) {
        shell::TBlock<28> record{};
        std::memcpy(record.data(), &block.channels[ch], record.size());
        Blocks::DecodeVideoPane(record, m_VideoPane[ch]);
      }
      break;
    default: return;
  }
  block.header.answered = 1;
}

void CZarnDoc::ExchangePipSettings(TPictInPictExchange& block) {
  static_assert(sizeof(TPipPaneRecord) == sizeof(shell::TBlock<56>));
  switch (block.header.op) {
    case OPTS_XCHG_READ:
      for (int pane = 0; pane < kPaneCount; ++pane) {
        shell::TBlock<56> record{};
        Blocks::EncodePip(m_Pip[pane], record);
        std::memcpy(&block.panes[pane], record.data(), record.size());
      }
      break;
    case OPTS_XCHG_WRITE:  // taken also while the document plays
      for (int pane = 0; pane < kPaneCount; ++pane) {
        shell::TBlock<56> record{};
        std::memcpy(record.data(), &block.panes[pane], record.size());
        Blocks::DecodePip(record, m_Pip[pane]);
      }
      break;
    default: return;
  }
  block.header.answered = 1;
}

void CZarnDoc::ExchangeTransform2D(TTransform2DExchange& block) {
  switch (block.header.op) {
    case OPTS_XCHG_READ:
      for (int ch = 0; ch < kChannelCount; ++ch) {
        block.channels[ch].flag = m_Source[ch].nPictureCount > 0 ? 1 : 0;
        block.channels[ch].orientation = m_VideoPortHub.Port(ch).Orientation();
      }
      break;
    case OPTS_XCHG_WRITE: break;  // nothing kept
    case OPTS_XCHG_APPLY:
      // Every flagged channel takes the block's code as its orientation; a
      // code that is none of the eight changes nothing.
      for (int ch = 0; ch < kChannelCount; ++ch) {
        const std::int32_t code = block.channels[ch].orientation;
        if (block.channels[ch].flag && code >= ORIENT_IDENTITY && code <= ORIENT_REFLECT_VERTICAL)
          TransformPane(ch, code, true);
      }
      break;
    default: return;
  }
  block.header.answered = 1;
}

void CZarnDoc::RunTransformSheet() {
  TModalScope modal(this);
  ZarnOptions::RunOptionsSheet(m_pControllerView.data(), OPTCAT_TRANSFORM_2D);
}

}  // namespace ZarnDoc

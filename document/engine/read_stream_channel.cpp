// The engine's adapter over the document's channel reader.

#include "document/engine/engine_owner.h"

namespace Zarn {

using ZarnTypes::TMediaSource;

bool CReadStreamChannel::SetSource(int channel, const TMediaSource& source) {
  return m_pReader && m_pReader->SetSource(channel, source);
}
void CReadStreamChannel::SetDelivery(const ReadStream::TReaderDelivery& delivery) {
  if (m_pReader) m_pReader->SetDelivery(delivery);
}
bool CReadStreamChannel::Run() { return m_pReader && m_pReader->Run(); }
void CReadStreamChannel::Pause() {
  if (m_pReader) m_pReader->Pause();
}
void CReadStreamChannel::Resume() {
  if (m_pReader) m_pReader->Resume();
}
void CReadStreamChannel::Stop() {
  if (m_pReader) m_pReader->Stop();
}
std::int32_t CReadStreamChannel::GetFirstFrame() const { return m_pReader ? m_pReader->GetFirstFrame() : 0; }
std::int32_t CReadStreamChannel::GetFrameLimit() const { return m_pReader ? m_pReader->GetFrameLimit() : 0; }

}  // namespace Zarn

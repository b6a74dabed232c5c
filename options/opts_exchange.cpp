#include "options/opts_exchange.h"

namespace ZarnTypes {

bool SendOptsExchange(QObject* owner, UINT message, platform::qt::WPARAM wParam, TOptsExchangeHeader& header,
                      std::int32_t op) {
  header.op = op;
  header.answered = 0;
  if (!owner) return false;
  platform::qt::SendAppMessageWithRecord(owner, message, wParam, platform::qt::RecordParam(&header));
  return header.answered != 0;
}

}  // namespace ZarnTypes

#include "shell/app_params.h"

namespace shell {

std::string& TChannelNaming::Slot(int i) {
  switch (i) {
    case 0: return saveSingle;
    case 1: return dirOut;
    case 2: return titleBase;
    case 3: return prefix;
    case 4: return suffix;
    default: return extension;
  }
}

const std::string& TChannelNaming::Slot(int i) const { return const_cast<TChannelNaming*>(this)->Slot(i); }

}  // namespace shell

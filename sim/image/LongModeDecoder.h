// The one Zydis decoder the image's code is read with: 64-bit mode, 64-bit stack.
#ifndef SIM_IMAGE_LONG_MODE_DECODER_H_
#define SIM_IMAGE_LONG_MODE_DECODER_H_

#include <Zydis/Zydis.h>

namespace sim {

const ZydisDecoder &LongModeDecoder();

}  // namespace sim

#endif  // SIM_IMAGE_LONG_MODE_DECODER_H_

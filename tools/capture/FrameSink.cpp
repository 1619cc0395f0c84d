#include "FrameSink.h"

namespace Tolvane::Capture {

FrameSink::~FrameSink() = default;

} // namespace Tolvane::Capture

// The one process-wide lock that serialises opening and closing codecs and reading stream
// information, across converter tasks, the player and the probe.
#pragma once

#include <mutex>

std::recursive_mutex& CodecLock();

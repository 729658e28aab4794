#include "acquire/fetch_loop.h"

namespace torvanel {

DWORD WINAPI FetchThread(void* /*unused*/) { return 0; }

}  // namespace torvanel

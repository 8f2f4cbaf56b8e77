// Systems without a sandbox of ours: the worker runs unfenced.
#include "platform/platform.h"

bool EnterSandbox() { return false; }

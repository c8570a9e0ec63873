// The host's process-wide record, initialised as the saver expects it at load.
#include "host/host_state.h"

SaverHostState host;

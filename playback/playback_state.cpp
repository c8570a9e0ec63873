// The playback's process-wide record, empty until the saver window starts playback.
#include "playback/playback_state.h"

PlaybackState playback;

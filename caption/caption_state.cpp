// The caption overlay's process-wide record, idle until the first caption starts, and
// the two captions it alternates between.
#include "caption/caption_state.h"

CaptionState caption;

const char captionTexts[2][64] = {
    "WWW.DUSKMERE.EXAMPLE",
    "(C) DUSKMERE LIGHTWORKS",
};

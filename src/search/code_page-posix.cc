#include "search/code_page.h"

// Names and texts are bytes here; UTF-8, the usual encoding, needs no lead bytes (see
// LeadBytes), so the search stays byte for byte.
LeadBytes TextLeadBytes() { return {}; }

#include "search/search_state.h"

SearchSettings searchSettings;
SearchTally searchTally;

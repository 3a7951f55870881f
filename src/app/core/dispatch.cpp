// Filled in by the dispatch table and the file listing.

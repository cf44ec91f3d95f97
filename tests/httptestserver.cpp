// Placeholder; the download engine's test server replaces it.

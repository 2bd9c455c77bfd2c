// Compiled only to build the shared precompiled header.

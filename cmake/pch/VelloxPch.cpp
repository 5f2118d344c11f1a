// Nothing to compile: the target exists to precompile VelloxPch.h once for
// every library of a GCC build.

// Nothing to compile: the targets made of this file exist to precompile the
// shared headers once for a GCC build.

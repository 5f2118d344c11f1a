// Defaults for AddressSanitizer in this executable. ASAN_OPTIONS from the
// environment is applied on top, so a run that sets no suppressions of its
// own still gets the one for libxkbcommon-x11 next to this file.
//
// The sanitizer asks for these before it is initialised, so nothing here may
// allocate, call into the C library or be instrumented itself.
extern "C" __attribute__((used, visibility("default"), no_sanitize("address", "undefined"))) const char*
__asan_default_options()
{
    static char options[4096];
    if (options[0] != '\0')
        return options;
    const char prefix[] = "suppressions=";
    const char file[] = __FILE__;
    const char name[] = "xkbcommon-x11.asan.supp";
    unsigned dirLength = 0;
    for (unsigned i = 0; file[i] != '\0'; ++i) {
        if (file[i] == '/')
            dirLength = i + 1;
    }
    if (sizeof prefix + dirLength + sizeof name > sizeof options)
        return "";
    unsigned at = 0;
    for (unsigned i = 0; prefix[i] != '\0'; ++i)
        options[at++] = prefix[i];
    for (unsigned i = 0; i < dirLength; ++i)
        options[at++] = file[i];
    for (unsigned i = 0; name[i] != '\0'; ++i)
        options[at++] = name[i];
    options[at] = '\0';
    return options;
}

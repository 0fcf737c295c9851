// Compiled into every language pack: the version of the program the pack is
// built for. The program lists and loads only a pack of its own version.
#ifndef PLEXAVO_PACK_VERSION
#error "the build names the pack's version (PLEXAVO_PACK_VERSION)"
#endif

extern "C" __attribute__((visibility("default"))) const char PlexavoPackVersion[] =
    PLEXAVO_PACK_VERSION;

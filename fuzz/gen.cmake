# Descriptor parser with random chunking (and the loader and builders behind it); skin load.
kestel_fuzz(js_parser LIBS kestel_gen)
kestel_fuzz(skin LIBS kestel_gen)

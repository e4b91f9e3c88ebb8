# Connect-to-ready against the in-process simulator (warm, cold, 20x set); gzip sink vs zlib.
kestel_bench(descriptor_cache LIBS kestel_core kestel_sim ZLIB::ZLIB)

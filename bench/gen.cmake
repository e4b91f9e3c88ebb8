# Descriptor parser throughput against rapidjson's DOM parse (header-only peer).
kestel_bench(descriptor_parse LIBS kestel_gen)

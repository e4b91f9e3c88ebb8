# Descriptor cache: the router's index and checksum records; the gzip sink.
kestel_fuzz(descriptor_index LIBS kestel_app)
kestel_fuzz(gzip_sink LIBS kestel_app)

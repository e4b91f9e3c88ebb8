# Chunk de-framer of the router's TCP stream.
kestel_fuzz(framing LIBS kestel_net)

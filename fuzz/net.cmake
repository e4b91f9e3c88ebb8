# Chunk de-framer of the router's TCP stream.
kestel_fuzz(framing LIBS kestel_net)
# MAC-layer transport: the packet parser and the stream fed by it.
kestel_fuzz(mac_packet LIBS kestel_net)

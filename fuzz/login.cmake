# Frames, challenges and proofs from a hostile router, for both sessions and the key exchange.
kestel_fuzz(login_frames LIBS kestel_net)
# The router's challenge through the client exchange and the curve's point decoder.
kestel_fuzz(ec_point LIBS kestel_net)

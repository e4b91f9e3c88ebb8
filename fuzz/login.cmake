# Frames, challenges and proofs from a hostile router, for both sessions and the key exchange.
kestel_fuzz(login_frames LIBS kestel_net)

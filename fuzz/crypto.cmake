# Decoders of bytes from the router in the crypto layer.
kestel_fuzz(session_cipher LIBS kestel_crypto)

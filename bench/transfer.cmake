# File transfer: 100 MB up and down through the secure session to the in-process simulator,
# against the session cipher alone doing the same frames' encryption and decryption.
kestel_bench(transfer LIBS kestel_core kestel_sim)

# Crypto primitives side by side with OpenSSL (the peer library), in one process.
find_package(OpenSSL REQUIRED)
kestel_bench(crypto LIBS kestel_crypto OpenSSL::Crypto)

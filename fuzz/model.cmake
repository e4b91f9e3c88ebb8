# Descriptor model: documents built into services and types, completed, objects packed.
kestel_fuzz(descriptor_model LIBS kestel_gen)

kestel_bench(object_pack LIBS kestel_object)
